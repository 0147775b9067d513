// The readings through which every key of a stream message is taken: a value
// of another kind than the reading accepts counts as absent.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include <simdjson.h>

#include "core/cache/market_change_record.h"
#include "core/cache/message_encoder.h"

namespace quorvane::cache {

// An integer form within the signed 64-bit range; 3.0 is no integer.
inline std::optional<std::int64_t> read_integer(simdjson::dom::element value) {
    std::int64_t integer;
    if (value.get_int64().get(integer) != simdjson::SUCCESS) return std::nullopt;
    return integer;
}

// Any number; integer forms become the nearest double.
inline std::optional<double> read_number(simdjson::dom::element value) {
    double number;
    if (value.get_double().get(number) != simdjson::SUCCESS) return std::nullopt;
    return number;
}

// A view of the string's text in the parsed document.
inline std::optional<std::string_view> read_string(simdjson::dom::element value) {
    std::string_view text;
    if (value.get_string().get(text) != simdjson::SUCCESS) return std::nullopt;
    return text;
}

inline std::optional<bool> read_boolean(simdjson::dom::element value) {
    bool boolean;
    if (value.get_bool().get(boolean) != simdjson::SUCCESS) return std::nullopt;
    return boolean;
}

inline std::optional<simdjson::dom::array> read_array(simdjson::dom::element value) {
    simdjson::dom::array array;
    if (value.get_array().get(array) != simdjson::SUCCESS) return std::nullopt;
    return array;
}

inline std::optional<simdjson::dom::object> read_object(simdjson::dom::element value) {
    simdjson::dom::object object;
    if (value.get_object().get(object) != simdjson::SUCCESS) return std::nullopt;
    return object;
}

// Fills `record` from one market-change value of any kind by the plain
// readings, reusing the record's vectors and pair storage. Texts stay views
// into the document, so the record is valid while the document is.
void read_market_change(simdjson::dom::element value, MarketChangeRecord& record);

// Adds one market-change value of any kind to `message`, as the line reader
// would.
void encode_market_change(simdjson::dom::element value, MessageEncoder& message);

}  // namespace quorvane::cache
