#include "oracle/json_readings.h"

#include <optional>
#include <utility>

#include "oracle/record_reading.h"

namespace quorvane::cache {
namespace {

// An element of a parsed document, read the way record_reading.h and
// market_change_encoding.h read values. Nothing is consumed: skip() has nothing to do.
class DomValue {
public:
    explicit DomValue(simdjson::dom::element element) : element_(element) {}

    bool is_number() const {
        using simdjson::dom::element_type;
        const element_type type = element_.type();
        return type == element_type::INT64 || type == element_type::UINT64 || type == element_type::DOUBLE;
    }
    bool is_string() const { return element_.type() == simdjson::dom::element_type::STRING; }

    std::optional<std::int64_t> integer() const { return read_integer(element_); }
    std::optional<double> number() const { return read_number(element_); }
    std::optional<std::string_view> string() const { return read_string(element_); }
    std::optional<bool> boolean() const { return read_boolean(element_); }
    bool number_pair(double& first_value, double& second_value) const {
        auto array = read_array(element_);
        if (!array || array->size() != 2) return false;
        const DomValue first(array->at(0).value_unsafe()), second(array->at(1).value_unsafe());
        if (!first.is_number() || !second.is_number()) return false;
        first_value = *first.number();
        second_value = *second.number();
        return true;
    }
    void skip() const {}

    template <class Visit>
    bool members(Visit&& visit) const {
        auto object = read_object(element_);
        if (!object) return false;
        for (auto [key, field] : *object) visit(key, DomValue(field));
        return true;
    }

    // Every number goes through number(), every pair through number_pair().
    bool hundredths(std::uint64_t&) const { return false; }
    template <class Pair, class Other>
    bool ladder(Pair&&, Other&& other) const {
        return elements(other);
    }

    template <class Visit>
    bool elements(Visit&& visit) const {
        auto array = read_array(element_);
        if (!array) return false;
        for (simdjson::dom::element item : *array) visit(DomValue(item));
        return true;
    }

private:
    simdjson::dom::element element_;
};

}  // namespace

void read_market_change(simdjson::dom::element value, MarketChangeRecord& record) {
    read_market_change_value(DomValue(value), record);
}

void encode_market_change(simdjson::dom::element value, MessageEncoder& message) {
    message.add_market_change(DomValue(value));
}

}  // namespace quorvane::cache
