// Applies a generated market (records built in code, no file reading) to a
// fresh cache: the cost of the cache alone per market change, runner change
// and price pair.
#include <algorithm>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "core/cache/replay.h"

namespace quorvane::cache {
namespace {

// Betfair's price ladder from 1.01 to 1000, as exact hundredths.
std::vector<double> betfair_prices() {
    struct Band { int upto, step; };
    static constexpr Band bands[] = {{200, 1},   {300, 2},   {400, 5},    {600, 10},   {1000, 20},
                                     {2000, 50}, {3000, 100}, {5000, 200}, {10000, 500}, {100000, 1000}};
    std::vector<double> prices;
    int hundredths = 101;
    for (const Band& band : bands)
        for (; hundredths <= band.upto; hundredths += band.step) prices.push_back(hundredths / 100.0);
    return prices;
}

class Random {
public:
    std::uint32_t below(std::uint32_t bound) { return static_cast<std::uint32_t>((next() >> 16) % bound); }

private:
    std::uint64_t next() { return state_ = state_ * 6364136223846793005u + 1442695040888963407u; }
    std::uint64_t state_ = 42;
};

struct SyntheticMarket {
    std::deque<std::vector<PricePair>> pair_storage;  // the records' spans point here
    std::vector<MarketChangeRecord> changes;
    std::size_t runner_changes = 0;
    std::size_t price_pairs = 0;

    PricePairs keep(std::vector<PricePair> pairs) {
        price_pairs += pairs.size();
        return pair_storage.emplace_back(std::move(pairs));
    }
};

// A definition, an image with `depth` levels a side per runner, then
// `updates` market changes of one or two runner changes each: a few ladder
// deltas (some removals), a traded level, last price and volume.
SyntheticMarket make_market(int runners, int depth, int updates) {
    const std::vector<double> prices = betfair_prices();
    depth = std::min(depth, static_cast<int>(prices.size() - 82) / 2);  // both sides fit on the ladder
    SyntheticMarket market;
    Random random;

    MarketChangeRecord image;
    image.is_object = true;
    image.id = "1.999";
    image.image = true;
    image.definition_kind = MarketChangeRecord::Definition::Object;
    image.definition.status = "OPEN";
    image.definition.has_runners = true;
    image.has_runner_changes = true;
    for (int runner = 0; runner < runners; ++runner) {
        DefinitionRunnerRecord entry;
        entry.is_object = true;
        entry.id = 1000 + runner;
        entry.status = "ACTIVE";
        entry.sort_priority = runner + 1;
        image.definition.runners.push_back(entry);

        const int middle = 40 + random.below(static_cast<std::uint32_t>(prices.size() - 2 * depth - 80)) + depth;
        std::vector<PricePair> back, lay;
        for (int level = 0; level < depth; ++level) {
            back.push_back({prices[middle - 1 - level], 2.0 + random.below(50000) / 100.0});
            lay.push_back({prices[middle + level], 2.0 + random.below(50000) / 100.0});
        }
        RunnerChangeRecord change;
        change.id = 1000 + runner;
        change.available_to_back = market.keep(std::move(back));
        change.available_to_lay = market.keep(std::move(lay));
        image.runner_changes.push_back(change);
        ++market.runner_changes;
    }
    market.changes.push_back(std::move(image));

    std::vector<double> traded(runners, 0.0);
    for (int update = 0; update < updates; ++update) {
        MarketChangeRecord change;
        change.is_object = true;
        change.has_runner_changes = true;
        const int touched = 1 + random.below(2);
        for (int i = 0; i < touched; ++i) {
            const int runner = static_cast<int>(random.below(runners));
            RunnerChangeRecord runner_change;
            runner_change.id = 1000 + runner;
            std::vector<PricePair> back, lay;
            for (int pair = 0; pair < 3; ++pair) {
                const double price = prices[60 + random.below(static_cast<std::uint32_t>(prices.size() - 120))];
                const double size = random.below(4) == 0 ? 0.0 : 2.0 + random.below(50000) / 100.0;
                (pair % 2 ? lay : back).push_back({price, size});
            }
            runner_change.available_to_back = market.keep(std::move(back));
            runner_change.available_to_lay = market.keep(std::move(lay));
            if (random.below(3) == 0) {
                const double price = prices[60 + random.below(100)];
                traded[runner] += 2.0 + random.below(10000) / 100.0;
                runner_change.traded_volume = market.keep({{price, traded[runner]}});
                runner_change.last_price_traded = price;
                runner_change.total_matched = traded[runner];
            }
            change.runner_changes.push_back(runner_change);
            ++market.runner_changes;
        }
        market.changes.push_back(std::move(change));
    }
    return market;
}

void apply_all(const SyntheticMarket& market) {
    Replay replay;
    std::int64_t publish_time = 1'650'000'000'000;
    for (const MarketChangeRecord& change : market.changes) replay.apply(change, ++publish_time);
    benchmark::DoNotOptimize(replay.market()->number_of_active_runners);
}

void BM_ApplySyntheticMarket(benchmark::State& state) {
    const SyntheticMarket market = make_market(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)),
                                               static_cast<int>(state.range(2)));
    for (auto _ : state) apply_all(market);
    const double iterations = static_cast<double>(state.iterations());
    using benchmark::Counter;
    state.counters["market_changes/s"] = Counter(market.changes.size() * iterations, Counter::kIsRate);
    state.counters["per_runner_change"] =
        Counter(market.runner_changes * iterations, Counter::kIsRate | Counter::kInvert);
    state.counters["per_price_pair"] = Counter(market.price_pairs * iterations, Counter::kIsRate | Counter::kInvert);
}

BENCHMARK(BM_ApplySyntheticMarket)
    ->ArgNames({"runners", "depth", "updates"})
    ->Args({40, 20, 200'000})
    ->Args({40, 150, 200'000})
    ->Args({400, 150, 200'000})
    ->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace quorvane::cache

BENCHMARK_MAIN();
