// Scoped borrows of a BorrowFlag for the entry points of a class. A refused
// borrow raises RuntimeError at once: there is no waiting.
#pragma once

#include "extension/binding/borrow_flag.h"
#include "extension/binding/errors.h"

namespace quorvane::binding {

template <bool (BorrowFlag::*Take)() noexcept, void (BorrowFlag::*End)() noexcept,
          const char* Refusal>
class Borrow {
public:
    explicit Borrow(BorrowFlag& flag) : flag_(flag) {
        if (!(flag_.*Take)()) throw_error(PyExc_RuntimeError, Refusal);
    }
    ~Borrow() { (flag_.*End)(); }
    Borrow(const Borrow&) = delete;
    Borrow& operator=(const Borrow&) = delete;

private:
    BorrowFlag& flag_;
};

inline constexpr char already_mutably_borrowed[] = "Already mutably borrowed";
inline constexpr char already_borrowed[] = "Already borrowed";

// For calls that only read the object.
using SharedBorrow = Borrow<&BorrowFlag::try_share, &BorrowFlag::end_share, already_mutably_borrowed>;
// For calls that change it.
using ExclusiveBorrow =
    Borrow<&BorrowFlag::try_take_exclusive, &BorrowFlag::end_exclusive, already_borrowed>;

}  // namespace quorvane::binding
