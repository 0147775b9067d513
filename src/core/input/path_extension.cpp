#include "core/input/path_extension.h"

namespace quorvane::input {
namespace {

#ifdef _WIN32
constexpr std::string_view separators = "/\\";
#else
constexpr std::string_view separators = "/";
#endif

}  // namespace

std::optional<std::string_view> path_extension(std::string_view path) {
    const std::size_t separator = path.find_last_of(separators);
    const std::string_view name = separator == std::string_view::npos ? path : path.substr(separator + 1);
    if (name.empty() || name == "." || name == "..") return std::nullopt;
    const std::size_t dot = name.rfind('.');
    if (dot == std::string_view::npos || dot == 0) return std::nullopt;
    return name.substr(dot + 1);
}

bool names_gzip_file(std::string_view path) {
    const auto extension = path_extension(path);
    return extension == "gz" || extension == "gzip";
}

bool names_bz2_file(std::string_view path) { return path_extension(path) == "bz2"; }

}  // namespace quorvane::input
