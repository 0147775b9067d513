// Every row of the shared line vectors through the same steps as the reader:
// UTF-8 check, blank-line skip, JSON parse.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "json_dump.h"
#include "market/input/json_line_parser.h"
#include "market/input/line_text.h"
#include "market/input/stream_error.h"
#include "padded_line.h"

namespace quorvane::input {
namespace {

constexpr std::size_t kVectorCount = 2600;
constexpr int kReportedFailures = 8;

std::string decode_base64(std::string_view text) {
    static constexpr std::string_view kAlphabet =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    std::uint32_t bits = 0;
    int bit_count = 0;
    for (char c : text) {
        if (c == '=') break;
        const std::size_t value = kAlphabet.find(c);
        if (value == std::string_view::npos) throw std::invalid_argument("not base64: " + std::string(text));
        bits = bits << 6 | static_cast<std::uint32_t>(value);
        bit_count += 6;
        if (bit_count >= 8) {
            bit_count -= 8;
            out += static_cast<char>(bits >> bit_count & 0xFF);
        }
    }
    return out;
}

// The line with its non-printable bytes escaped, so that a failure is readable.
std::string printable(std::string_view line) {
    std::string out;
    for (unsigned char c : line) {
        if (c >= 0x20 && c < 0x7F && c != '\\') {
            out += static_cast<char>(c);
        } else {
            char escape[5];
            std::snprintf(escape, sizeof escape, "\\x%02x", c);
            out += escape;
        }
    }
    return out;
}

std::string outcome(JsonLineParser& parser, std::string_view line) {
    if (!is_valid_utf8(line)) return "ERR stream did not contain valid UTF-8";
    if (is_blank_line(line)) return "SKIP";
    const testing::PaddedLine padded(line);
    try {
        return "OK " + testing::dump(parser.parse(padded.view()));
    } catch (const StreamError& error) {
        return std::string("ERR ") + error.what();
    }
}

struct Vector {
    std::size_t row;
    std::string line;
    std::string expected;
};

std::vector<Vector> load_vectors(const std::filesystem::path& path) {
    std::ifstream file(path, std::ios::binary);
    std::vector<Vector> vectors;
    std::string text;
    for (std::size_t row = 1; std::getline(file, text); ++row) {
        const std::size_t tab = text.find('\t');
        if (tab == std::string::npos) throw std::runtime_error("row without a tab: " + std::to_string(row));
        vectors.push_back({row, decode_base64(std::string_view(text).substr(0, tab)), text.substr(tab + 1)});
    }
    return vectors;
}

TEST(LineVectors, EveryRowGivesItsExpectedOutcome) {
    const std::filesystem::path path = std::filesystem::path(QUORVANE_SHARED_DIR) / "data/json/line-vectors.tsv";
    if (!std::filesystem::exists(path)) GTEST_SKIP() << "line vectors not found at " << path;
    const std::vector<Vector> vectors = load_vectors(path);
    ASSERT_EQ(vectors.size(), kVectorCount);

    JsonLineParser parser;
    int failures = 0;
    for (const Vector& vector : vectors) {
        const std::string got = outcome(parser, vector.line);
        if (got == vector.expected) continue;
        if (++failures <= kReportedFailures) {
            ADD_FAILURE() << "row " << vector.row << ": " << printable(vector.line) << "\n  expected: "
                          << vector.expected << "\n  got:      " << got;
        }
    }
    EXPECT_EQ(failures, 0) << "rows failing out of " << vectors.size();
}

}  // namespace
}  // namespace quorvane::input
