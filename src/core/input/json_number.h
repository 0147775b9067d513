// The double a JSON number token stands for, the same under every locale.
#pragma once

#include <optional>
#include <string_view>

namespace quorvane::input {

// `token` is one whole number of the JSON grammar. Returns the nearest
// double (a magnitude below the smallest one gives a zero of the token's
// sign), or nothing when the magnitude rounds beyond the largest double.
std::optional<double> json_number_value(std::string_view token);

}  // namespace quorvane::input
