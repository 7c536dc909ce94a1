// A value or the Status that says why there is none: what a function that
// makes something returns, in place of an optional and a reason beside it.
#pragma once

#include <cassert>
#include <optional>
#include <utility>

#include "common/status.h"

namespace zqd {

template <typename T>
class Result {
public:
    Result(T value) : value_(std::move(value)) {}                 // NOLINT: a value converts
    Result(Status failure) : status_(std::move(failure)) { assert(!status_.ok()); }  // NOLINT: so does a failure

    bool ok() const { return value_.has_value(); }
    explicit operator bool() const { return ok(); }
    const Status& status() const { return status_; }

    T& operator*() & { return *value_; }
    const T& operator*() const& { return *value_; }
    T&& operator*() && { return std::move(*value_); }
    T* operator->() { return &*value_; }
    const T* operator->() const { return &*value_; }

private:
    std::optional<T> value_;
    Status status_;
};

}  // namespace zqd
