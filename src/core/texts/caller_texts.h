// Texts that callers match on. Callers compare these messages and type names
// verbatim, and expect them as an extension built with PyO3 (Rust) words
// them: Rust and Windows wording included, the same on every platform. Never
// reword them.
#pragma once

#include <cstddef>

namespace quorvane::texts {

// ImportError when a second interpreter of the process imports the module.
inline constexpr char subinterpreters_unsupported[] =
    "PyO3 modules do not yet support subinterpreters, see https://github.com/PyO3/pyo3/issues/576";

// The qualified name of the exception raised for an internal fault.
inline constexpr char panic_exception_name[] = "pyo3_runtime.PanicException";

// A path with a NUL byte, refused before any system call.
inline constexpr char path_contains_nul[] = "strings passed to WinAPI cannot contain NULs";

// The target type named when an argument is not a str: "'int' object cannot
// be converted to 'PyString'".
inline constexpr char str_target_type[] = "PyString";

// OverflowError of an integer argument outside the range it is stored in,
// whatever the integer's size.
inline constexpr char integer_out_of_range[] = "out of range integral type conversion attempted";

// "builtins." + a class name: the qualified name of a class that declares no
// module, which is what its repr and its errors show.
template <std::size_t Size>
struct TypeName {
    static constexpr char prefix[] = "builtins.";
    char text[sizeof prefix - 1 + Size];

    consteval explicit TypeName(const char (&name)[Size]) : text{} {
        for (std::size_t i = 0; i + 1 < sizeof prefix; ++i) text[i] = prefix[i];
        for (std::size_t i = 0; i < Size; ++i) text[sizeof prefix - 1 + i] = name[i];
    }
};

}  // namespace quorvane::texts
