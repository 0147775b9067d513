// A starting-price value: a number, a text kept verbatim, or absent.
#pragma once

#include <string>
#include <string_view>

#include "core/cache/market_change_record.h"

namespace quorvane::cache {

class SpValue {
public:
    enum class Kind : std::uint8_t { Absent, Number, Text };

    Kind kind() const { return kind_; }
    bool absent() const { return kind_ == Kind::Absent; }
    double number() const { return number_; }        // meaningful for Kind::Number
    std::string_view text() const { return text_; }   // meaningful for Kind::Text

    // A number or a text is taken; any other input, or none, leaves it absent.
    // The text buffer is kept across kinds so a repeated text allocates nothing.
    void assign(const SpInput& input) {
        switch (input.kind) {
        case SpInput::Kind::Number:
            kind_ = Kind::Number;
            number_ = input.number;
            break;
        case SpInput::Kind::Text:
            kind_ = Kind::Text;
            text_.assign(input.text);
            break;
        case SpInput::Kind::Missing:
        case SpInput::Kind::Other:
            kind_ = Kind::Absent;
            break;
        }
    }

private:
    Kind kind_ = Kind::Absent;
    double number_ = 0.0;
    std::string text_;
};

}  // namespace quorvane::cache
