// The two ways a time becomes a naive UTC datetime.datetime.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "extension/binding/py_ref.h"

namespace quorvane::definition {

// A definition time text through datetime.datetime.strptime, with fractional
// seconds first and then without; an absent text gives no object (which
// reads as None) and imports nothing. Throws
// binding::PythonError with strptime's error for the second format. A valid
// text in the exchange's own spelling is read without strptime when the
// class is datetime.datetime itself, to the same value.
binding::PyRef definition_time_to_datetime(const std::optional<std::string>& text);

// The value datetime.datetime.utcfromtimestamp(ms / 1000.0) returns, with
// the same errors for times it cannot represent, but without the deprecated
// call and its warning.
binding::PyRef publish_time_to_datetime(std::int64_t milliseconds);

}  // namespace quorvane::definition
