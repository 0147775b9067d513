// A fault met while reading a stream file. Its text is the whole message
// that iter_prices_file raises as ValueError.
#pragma once

#include <cstddef>
#include <stdexcept>
#include <string>

namespace quorvane::input {

class StreamError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;

    // The 1-based number of the line, in the decompressed data, that the
    // fault is in; 0 for a fault of the file or its compression.
    std::size_t line_number() const { return line_number_; }
    void set_line_number(std::size_t line_number) { line_number_ = line_number; }

private:
    std::size_t line_number_ = 0;
};

}  // namespace quorvane::input
