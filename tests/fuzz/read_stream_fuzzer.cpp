// Fuzzes the stream reader over bytes in memory. The first byte chooses the
// path, plain or gzip (its lowest bit); the rest is the file's content. Any
// input must either read or fail with StreamError.
#include <cstddef>
#include <cstdint>
#include <span>

#include "core/input/stream_error.h"
#include "core/input/stream_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return -1;  // no path chosen: not kept in the corpus
    const bool gzip = (data[0] & 1) != 0;
    const auto content = std::as_bytes(std::span(data + 1, size - 1));
    try {
        const auto messages = quorvane::input::read_stream_bytes(content, gzip);
        // Every stored message is decoded again, as the iterator does.
        quorvane::cache::MarketChangeRecord scratch;
        for (std::size_t index = 0; index < messages.size(); ++index) {
            messages.for_each_market_change(index, scratch, [](const auto&) {});
        }
    } catch (const quorvane::input::StreamError&) {
    }
    return 0;
}
