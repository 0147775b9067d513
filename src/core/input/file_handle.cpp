#include "core/input/file_handle.h"

#include <string>
#include <system_error>
#include <utility>

#include "core/input/stream_error.h"
#include "core/texts/caller_texts.h"

#ifdef _WIN32
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <algorithm>
#else
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace quorvane::input {
namespace {

[[noreturn]] void throw_os_error(int code) {
    throw StreamError(std::system_category().message(code) + " (os error " + std::to_string(code) + ")");
}

void refuse_nul(std::string_view path) {
    if (path.find('\0') != std::string_view::npos) throw StreamError(texts::path_contains_nul);
}

}  // namespace

FileHandle::FileHandle(FileHandle&& other) noexcept : native_(std::exchange(other.native_, closed)) {}

FileHandle& FileHandle::operator=(FileHandle&& other) noexcept {
    if (this != &other) {
        close();
        native_ = std::exchange(other.native_, closed);
    }
    return *this;
}

FileHandle::~FileHandle() { close(); }

#ifdef _WIN32

FileHandle FileHandle::open_for_reading(std::string_view path) {
    refuse_nul(path);
    const int wide_size = MultiByteToWideChar(CP_UTF8, 0, path.data(), static_cast<int>(path.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(wide_size), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, path.data(), static_cast<int>(path.size()), wide.data(), wide_size);
    HANDLE handle = CreateFileW(wide.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) throw_os_error(static_cast<int>(GetLastError()));
    return FileHandle(handle);
}

std::size_t FileHandle::read(std::span<std::byte> out) {
    DWORD got = 0;
    const DWORD want = static_cast<DWORD>(std::min<std::size_t>(out.size(), 1u << 30));
    if (!ReadFile(native_, out.data(), want, &got, nullptr)) {
        const DWORD code = GetLastError();
        if (code == ERROR_BROKEN_PIPE) return 0;
        throw_os_error(static_cast<int>(code));
    }
    return got;
}

std::uint64_t FileHandle::size() const noexcept {
    LARGE_INTEGER size;
    if (GetFileType(native_) != FILE_TYPE_DISK || !GetFileSizeEx(native_, &size)) return 0;
    return static_cast<std::uint64_t>(size.QuadPart);
}

void FileHandle::close() noexcept {
    if (native_ != closed) CloseHandle(std::exchange(native_, closed));
}

#else

FileHandle FileHandle::open_for_reading(std::string_view path) {
    refuse_nul(path);
    const std::string terminated(path);
    int fd;
    do {
        fd = ::open(terminated.c_str(), O_RDONLY | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) throw_os_error(errno);
    return FileHandle(fd);
}

std::size_t FileHandle::read(std::span<std::byte> out) {
    for (;;) {
        const ssize_t got = ::read(native_, out.data(), out.size());
        if (got >= 0) return static_cast<std::size_t>(got);
        if (errno != EINTR) throw_os_error(errno);
    }
}

std::uint64_t FileHandle::size() const noexcept {
    struct stat status;
    if (::fstat(native_, &status) != 0 || !S_ISREG(status.st_mode)) return 0;
    return static_cast<std::uint64_t>(status.st_size);
}

void FileHandle::close() noexcept {
    if (native_ != closed) ::close(std::exchange(native_, closed));
}

#endif

}  // namespace quorvane::input
