// Identity of a runner record: the selection id and the handicap in
// hundredths, so handicaps that round to the same hundredth share a record.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>

namespace quorvane::cache {

// handicap × 100, rounded half away from zero, saturated to the int64 range.
// NaN has no sensible key; it maps to 0 rather than to an undefined cast.
inline std::int64_t handicap_key(double handicap) {
    if (handicap == 0.0) return 0;  // nearly every runner; spares the call to round
    const double hundredths = std::round(handicap * 100.0);
    if (std::isnan(hundredths)) return 0;
    constexpr double two_to_63 = 9223372036854775808.0;
    if (hundredths >= two_to_63) return std::numeric_limits<std::int64_t>::max();
    if (hundredths < -two_to_63) return std::numeric_limits<std::int64_t>::min();
    return static_cast<std::int64_t>(hundredths);
}

struct RunnerKey {
    std::int64_t selection_id = 0;
    std::int64_t handicap_key = 0;

    static RunnerKey of(std::int64_t selection_id, double handicap) {
        return {selection_id, cache::handicap_key(handicap)};
    }

    friend bool operator==(const RunnerKey&, const RunnerKey&) = default;
    friend auto operator<=>(const RunnerKey&, const RunnerKey&) = default;
};

// Selection ids are large and close together, and the runners of an Asian
// handicap market share them, differing in small handicap keys: the
// multiplies spread every bit of both over the high bits, which the runner
// table's index takes.
struct RunnerKeyHash {
    std::uint64_t operator()(const RunnerKey& key) const {
        return (static_cast<std::uint64_t>(key.selection_id) ^
                static_cast<std::uint64_t>(key.handicap_key) * 0x9E3779B97F4A7C15u) *
               0xBF58476D1CE4E5B9u;
    }
};

}  // namespace quorvane::cache
