// One entry of the latest market definition's "runners", in its order.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace quorvane::cache {

struct DefinitionRunner {
    std::int64_t selection_id = 0;
    double handicap = 0.0;
    std::int32_t sort_priority = 0;
    std::string status = "ACTIVE";
    std::optional<std::string> name;
    std::optional<double> adjustment_factor;
    std::optional<double> bsp;  // numbers only: a text "bsp" leaves it absent
    std::optional<std::string> removal_date;
};

}  // namespace quorvane::cache
