// The extension of a file name, which decides whether a file is read
// through gzip or bzip2.
#pragma once

#include <optional>
#include <string_view>

namespace quorvane::input {

// The text after the last '.' of the path's last component, unless that dot
// starts the component. A last component that is empty, "." or ".." has no
// extension.
std::optional<std::string_view> path_extension(std::string_view path);

// Whether the extension is "gz" or "gzip", compared case-sensitively.
bool names_gzip_file(std::string_view path);

// Whether the extension is "bz2", compared case-sensitively.
bool names_bz2_file(std::string_view path);

}  // namespace quorvane::input
