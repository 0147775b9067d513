// Fuzzes reading a plain stream and replaying every stored message the way
// the iterator steps do. After each change the cache's own invariants must
// hold, and the ladders are read out in order as a book build does.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>

#include "core/cache/price_ladder.h"
#include "core/cache/replay.h"
#include "core/input/stream_error.h"
#include "core/input/stream_reader.h"

namespace {

using quorvane::cache::MarketState;
using quorvane::cache::RunnerKey;

template <class Ladder>
void check_ladder(const Ladder& ladder) {
    const auto levels = quorvane::cache::sorted_levels(ladder);
    if (levels.size() != ladder.levels.size()) std::abort();
    for (const auto& level : levels) {
        if (level.size == 0.0) std::abort();
    }
}

void check_invariants(const MarketState& state) {
    std::int32_t active = 0;
    for (const auto& [key, runner] : state.runners) {
        if (!(key == RunnerKey::of(runner.selection_id, runner.handicap))) std::abort();
        active += runner.status == "ACTIVE";
        check_ladder(runner.available_to_back);
        check_ladder(runner.available_to_lay);
        check_ladder(runner.traded_volume);
        check_ladder(runner.starting_price_back);
        check_ladder(runner.starting_price_lay);
    }
    if (state.number_of_runners != static_cast<std::int32_t>(state.runners.size())) std::abort();
    if (state.number_of_active_runners != active) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    quorvane::cache::StoredMessages messages;
    try {
        messages = quorvane::input::read_stream_bytes(std::as_bytes(std::span(data, size)), false);
    } catch (const quorvane::input::StreamError&) {
        return 0;
    }
    quorvane::cache::Replay replay;
    quorvane::cache::MarketChangeRecord scratch;
    for (std::size_t index = 0; index < messages.size(); ++index) {
        const std::int64_t publish_time = messages.publish_time(index);
        messages.for_each_market_change(index, scratch, [&](const quorvane::cache::MarketChangeRecord& change) {
            if (replay.apply(change, publish_time)) check_invariants(*replay.market());
        });
    }
    return 0;
}
