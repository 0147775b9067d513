// Reads a recorded stream file to the end into stored messages.
#pragma once

#include <cstddef>
#include <span>
#include <string_view>

#include "core/cache/stored_messages.h"
#include "core/input/byte_source.h"

namespace quorvane::input {

// Reads the file at `path` (UTF-8), through gzip when its extension says so.
// Throws StreamError with the message to raise, and the number of the line
// for a fault of a line's text; the file is closed either way.
cache::StoredMessages read_stream_file(std::string_view path);

// Reads the lines of an already opened source to the end.
cache::StoredMessages read_stream(ByteSource& source);

// The same reading over bytes in memory, through the gzip decoder when `gzip`.
cache::StoredMessages read_stream_bytes(std::span<const std::byte> bytes, bool gzip);

}  // namespace quorvane::input
