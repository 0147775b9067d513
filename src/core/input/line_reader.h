// Splits the bytes of a source into lines through one fixed buffer.
#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string_view>
#include <vector>

#include "core/input/byte_source.h"
#include "core/input/line_feed_index.h"

namespace quorvane::input {

inline constexpr std::size_t LINE_BUFFER_SIZE = 1024 * 1024;
// Readable bytes after every line handed out, for parsers that load a word
// or a block at a time across the end of a line.
inline constexpr std::size_t LINE_PADDING = 64;

// A line ends at a line feed, which is dropped with one carriage return just
// before it; text after the last line feed is a last line. Lines longer than
// the buffer are gathered in storage of their own.
class LineReader {
public:
    explicit LineReader(ByteSource& source);

    // The next line, or nothing at the end of the data. The view stays valid
    // until the next call, and LINE_PADDING readable bytes follow it.
    std::optional<std::string_view> next_line();

private:
    bool refill();
    std::string_view gather_long_line();

    ByteSource& source_;
    std::unique_ptr<char[]> buffer_;
    std::size_t begin_ = 0;  // first byte not yet handed out
    std::size_t end_ = 0;
    LineFeedIndex line_feeds_;  // of the bytes up to end_
    bool ended_ = false;
    std::vector<char> long_line_;
};

}  // namespace quorvane::input
