#include "core/input/line_reader.h"

#include <cstring>
#include <span>

namespace quorvane::input {
namespace {

// The index reads whole blocks, into the padding after the data.
static_assert(LINE_PADDING + 1 >= kLineFeedBlockSize);

std::string_view without_carriage_return(const char* begin, const char* line_feed) {
    const char* end = line_feed != begin && line_feed[-1] == '\r' ? line_feed - 1 : line_feed;
    return {begin, static_cast<std::size_t>(end - begin)};
}

}  // namespace

LineReader::LineReader(ByteSource& source)
    : source_(source), buffer_(std::make_unique_for_overwrite<char[]>(LINE_BUFFER_SIZE + LINE_PADDING)) {}

std::optional<std::string_view> LineReader::next_line() {
    for (;;) {
        char* const begin = buffer_.get() + begin_;
        const std::size_t line_feed = line_feeds_.next(begin_);
        if (line_feed != end_) {
            begin_ = line_feed + 1;
            return without_carriage_return(begin, buffer_.get() + line_feed);
        }
        if (ended_) {
            if (begin_ == end_) return std::nullopt;
            const std::string_view last(begin, end_ - begin_);
            begin_ = end_;
            return last;
        }
        if (begin_ == 0 && end_ == LINE_BUFFER_SIZE) return gather_long_line();
        refill();
    }
}

bool LineReader::refill() {
    if (begin_ != 0) {
        std::memmove(buffer_.get(), buffer_.get() + begin_, end_ - begin_);
        end_ -= begin_;
        begin_ = 0;
    }
    const std::size_t got = source_.read(std::as_writable_bytes(std::span(buffer_.get() + end_, LINE_BUFFER_SIZE - end_)));
    end_ += got;
    // Zeroing the whole megabyte up front would dominate small inputs; only
    // the bytes a parser may read past a line's end need defined contents.
    std::memset(buffer_.get() + end_, 0, LINE_PADDING);
    line_feeds_.index(buffer_.get(), end_);
    ended_ = got == 0;
    return !ended_;
}

std::string_view LineReader::gather_long_line() {
    long_line_.assign(buffer_.get(), buffer_.get() + end_);
    begin_ = end_ = 0;
    std::size_t length = long_line_.size();
    while (refill()) {
        const char* data = buffer_.get();
        if (const std::size_t line_feed = line_feeds_.next(0); line_feed != end_) {
            long_line_.insert(long_line_.end(), data, data + line_feed);
            begin_ = line_feed + 1;
            length = long_line_.size();
            if (long_line_.back() == '\r') --length;
            break;
        }
        long_line_.insert(long_line_.end(), data, data + end_);
        end_ = 0;
        length = long_line_.size();
    }
    long_line_.resize(long_line_.size() + LINE_PADDING);
    return {long_line_.data(), length};
}

}  // namespace quorvane::input

