// A price or a size of a ladder pair, from the line that gives it to the
// ladder it changes. Nearly every one is an exact hundredth k / 100.0: the
// reader finds k from the digits and the store keeps k, so neither divides,
// and the double is made only where the ladder is changed.
#pragma once

#include <bit>
#include <cstdint>

namespace quorvane::cache {

class LadderNumber {
public:
    // The hundredths that fit beside the tag.
    static constexpr std::uint64_t kMaxHundredths = (std::uint64_t{1} << 48) - 1;

    constexpr LadderNumber() = default;

    // Precondition: k <= kMaxHundredths.
    static constexpr LadderNumber hundredths(std::uint64_t k) { return LadderNumber(kHundredthsTag | k); }
    // Precondition: `value` is not a NaN, as no number of a line is.
    static constexpr LadderNumber of(double value) { return LadderNumber(std::bit_cast<std::uint64_t>(value)); }

    constexpr bool is_hundredths() const { return (code_ & kTagMask) == kHundredthsTag; }
    // Precondition: is_hundredths().
    constexpr std::uint64_t hundredths() const { return code_ & ~kTagMask; }
    // Precondition: !is_hundredths().
    constexpr double number() const { return std::bit_cast<double>(code_); }

    // k / 100.0 for a hundredth: one correctly rounded division of exact
    // operands, the same double as reading the digits would give.
    double value() const {
        return is_hundredths() ? static_cast<double>(static_cast<std::int64_t>(hundredths())) / 100.0 : number();
    }

    constexpr bool operator==(const LadderNumber&) const = default;

private:
    // A hundredth is kept where no finite double's bits are: under the bits
    // of a negative NaN, with room for k in the low 48 bits.
    static constexpr std::uint64_t kHundredthsTag = 0xFFFF'0000'0000'0000;
    static constexpr std::uint64_t kTagMask = 0xFFFF'0000'0000'0000;

    explicit constexpr LadderNumber(std::uint64_t code) : code_(code) {}

    std::uint64_t code_ = 0;  // +0.0
};

// One element of a ladder delta: the price and the size to set there, 0.0
// when the element's first or second value was not a number.
struct LadderPair {
    LadderNumber price;
    LadderNumber size;

    constexpr bool operator==(const LadderPair&) const = default;
};

}  // namespace quorvane::cache
