// The borrow state of an object whose state a call changes: 0 free, -1 while
// one caller changes it, n > 0 while n readers run. A refused borrow leaves
// the state as it was. Plain integer: every change happens under the
// interpreter lock.
#pragma once

#include <cstdint>

namespace quorvane::binding {

class BorrowFlag {
public:
    bool try_share() noexcept {
        if (state_ == exclusive_state) return false;
        ++state_;
        return true;
    }
    void end_share() noexcept { --state_; }

    bool try_take_exclusive() noexcept {
        if (state_ != free_state) return false;
        state_ = exclusive_state;
        return true;
    }
    void end_exclusive() noexcept { state_ = free_state; }

    std::int64_t state() const noexcept { return state_; }

private:
    static constexpr std::int64_t free_state = 0;
    static constexpr std::int64_t exclusive_state = -1;

    std::int64_t state_ = free_state;
};

}  // namespace quorvane::binding
