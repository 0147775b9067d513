// A fault met while reading a stream file. Its text is the whole message
// that iter_prices_file raises as ValueError.
#pragma once

#include <stdexcept>
#include <string>

namespace quorvane::input {

class StreamError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

}  // namespace quorvane::input
