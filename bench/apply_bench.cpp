// Applies every stored message of a recording to a fresh cache, the way the
// iterator does, next to the cost of loading the file and of decoding its
// stored market changes alone. Files: the command-line arguments left after
// the benchmark flags, or else the shared recordings and data/large/*.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "bench_files.h"

#include "core/cache/replay.h"
#include "core/input/stream_reader.h"

namespace quorvane::cache {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// Calls visit(change, publish_time) for every market change the iterator applies.
template <class Visit>
void for_each_applied_change(const StoredMessages& messages, Visit&& visit) {
    MarketChangeRecord scratch;
    for (std::size_t index = 0; index < messages.size(); ++index) {
        const std::int64_t publish_time = messages.publish_time(index);
        messages.for_each_market_change(index, scratch,
                                        [&](const MarketChangeRecord& change) { visit(change, publish_time); });
    }
}

std::size_t apply_all(const StoredMessages& messages) {
    Replay replay;
    std::size_t applied = 0;
    for_each_applied_change(messages, [&](const MarketChangeRecord& change, std::int64_t publish_time) {
        applied += replay.apply(change, publish_time);
    });
    return applied;
}

struct Workload {
    std::string path;
    StoredMessages messages;
    double load_seconds;  // best of three
    std::size_t market_changes = 0;
    std::size_t runner_changes = 0;

    explicit Workload(const fs::path& file) : path(file.string()), messages(input::read_stream_file(path)) {
        load_seconds = 1e300;
        for (int run = 0; run < 3; ++run) {
            const auto start = Clock::now();
            benchmark::DoNotOptimize(input::read_stream_file(path).size());
            load_seconds = std::min(load_seconds, std::chrono::duration<double>(Clock::now() - start).count());
        }
        for_each_applied_change(messages, [&](const MarketChangeRecord& change, std::int64_t) {
            ++market_changes;
            runner_changes += change.runner_changes.size();
        });
    }
};

void set_rates(benchmark::State& state, const Workload& work) {
    using benchmark::Counter;
    const double iterations = static_cast<double>(state.iterations());
    state.counters["market_changes/s"] = Counter(work.market_changes * iterations, Counter::kIsRate);
    state.counters["per_runner_change"] = Counter(work.runner_changes * iterations, Counter::kIsRate | Counter::kInvert);
}

void BM_Load(benchmark::State& state, const Workload* work) {
    for (auto _ : state) benchmark::DoNotOptimize(input::read_stream_file(work->path).size());
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * fs::file_size(work->path)));
}

void BM_Decode(benchmark::State& state, const Workload* work) {
    for (auto _ : state)
        for_each_applied_change(work->messages, [](const MarketChangeRecord& change, std::int64_t) {
            benchmark::DoNotOptimize(change.runner_changes.data());
        });
    set_rates(state, *work);
}

// Decoding is part of every iterator step, so it is counted here too; the
// decode benchmark shows how much of this is the cache itself.
void BM_Apply(benchmark::State& state, const Workload* work) {
    const auto start = Clock::now();
    for (auto _ : state) benchmark::DoNotOptimize(apply_all(work->messages));
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    set_rates(state, *work);
    // Goal: well under the load time (below 0.15).
    state.counters["share_of_load"] = seconds / static_cast<double>(state.iterations()) / work->load_seconds;
}

}  // namespace
}  // namespace quorvane::cache

int main(int argc, char** argv) {
    using namespace quorvane::cache;
    return quorvane::bench::run_on_files<Workload>(argc, argv, {
        {"load", BM_Load},
        {"decode", BM_Decode},
        {"apply", BM_Apply},
    });
}
