// An operating-system file opened for sequential reading, closed when the
// handle goes away.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace quorvane::input {

class FileHandle {
public:
    // Opens an existing file read-only without locking it. Throws StreamError
    // with the system's description of the failure.
    static FileHandle open_for_reading(std::string_view path);

    FileHandle(FileHandle&& other) noexcept;
    FileHandle& operator=(FileHandle&& other) noexcept;
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;
    ~FileHandle();

    // Reads up to out.size() bytes; 0 only at the end of the file.
    std::size_t read(std::span<std::byte> out);

    // The file's size as the system reports it now; 0 where it reports none
    // (a pipe, a terminal).
    std::uint64_t size() const noexcept;

private:
#ifdef _WIN32
    using Native = void*;
    static constexpr Native closed = nullptr;
#else
    using Native = int;
    static constexpr Native closed = -1;
#endif
    explicit FileHandle(Native native) noexcept : native_(native) {}
    void close() noexcept;

    Native native_ = closed;
};

}  // namespace quorvane::input
