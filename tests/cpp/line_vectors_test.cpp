// Every row of the shared line vectors through the same steps as the reader:
// UTF-8 check, blank-line skip, JSON parse.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "core/input/json_line_parser.h"
#include "core/input/line_text.h"
#include "core/input/stream_error.h"
#include "json_dump.h"
#include "line_vectors.h"
#include "padded_line.h"

namespace quorvane::input {
namespace {

constexpr std::size_t kVectorCount = 2600;
constexpr int kReportedFailures = 8;

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

TEST(LineVectors, EveryRowGivesItsExpectedOutcome) {
    const std::filesystem::path path = testing::line_vectors_path();
    if (!std::filesystem::exists(path)) QUORVANE_SHARED_DATA_MISSING() << "line vectors not found at " << path;
    const std::vector<testing::LineVector> vectors = testing::load_line_vectors(path);
    ASSERT_EQ(vectors.size(), kVectorCount);

    JsonLineParser parser;
    int failures = 0;
    for (const testing::LineVector& vector : vectors) {
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
