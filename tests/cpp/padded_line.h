// A line followed by the readable padding JsonLineParser::parse requires:
// the line feed that ends a line, then bytes that would change the result if
// the parser used them.
#pragma once

#include <string>
#include <string_view>

#include <simdjson.h>

namespace quorvane::testing {

class PaddedLine {
public:
    explicit PaddedLine(std::string_view line) : size_(line.size()), bytes_(line) {
        bytes_ += '\n';
        for (std::size_t i = 1; i < simdjson::SIMDJSON_PADDING; ++i) bytes_ += "9]}\"\\"[i % 5];
    }
    std::string_view view() const { return std::string_view(bytes_).substr(0, size_); }

private:
    std::size_t size_;
    std::string bytes_;
};

}  // namespace quorvane::testing
