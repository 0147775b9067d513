// Scoped borrows of a BorrowFlag for the entry points of a class. A refused
// borrow raises RuntimeError at once: there is no waiting.
#pragma once

#include "binding/borrow_flag.h"
#include "binding/errors.h"

namespace quorvane::binding {

class SharedBorrow {
public:
    explicit SharedBorrow(BorrowFlag& flag) : flag_(flag) {
        if (!flag_.try_share()) throw_error(PyExc_RuntimeError, "Already mutably borrowed");
    }
    ~SharedBorrow() { flag_.end_share(); }
    SharedBorrow(const SharedBorrow&) = delete;
    SharedBorrow& operator=(const SharedBorrow&) = delete;

private:
    BorrowFlag& flag_;
};

class ExclusiveBorrow {
public:
    explicit ExclusiveBorrow(BorrowFlag& flag) : flag_(flag) {
        if (!flag_.try_take_exclusive()) throw_error(PyExc_RuntimeError, "Already borrowed");
    }
    ~ExclusiveBorrow() { flag_.end_exclusive(); }
    ExclusiveBorrow(const ExclusiveBorrow&) = delete;
    ExclusiveBorrow& operator=(const ExclusiveBorrow&) = delete;

private:
    BorrowFlag& flag_;
};

}  // namespace quorvane::binding
