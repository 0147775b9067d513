// The bytes of a file, as the operating system delivers them.
#pragma once

#include <cstdint>
#include <string_view>

#include "core/input/byte_source.h"
#include "core/input/file_handle.h"

namespace quorvane::input {

class FileSource final : public ByteSource {
public:
    explicit FileSource(std::string_view path) : file_(FileHandle::open_for_reading(path)) {}

    std::size_t read(std::span<std::byte> out) override { return file_.read(out); }
    std::uint64_t size() const noexcept { return file_.size(); }

private:
    FileHandle file_;
};

}  // namespace quorvane::input
