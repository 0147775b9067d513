// Every row of the shared line vectors through the reader's own steps, each
// accepted line dumped as the reader read it.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "line_outcome.h"
#include "line_vectors.h"

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

TEST(LineVectors, EveryRowGivesItsExpectedOutcome) {
    const std::filesystem::path path = testing::line_vectors_path();
    if (!std::filesystem::exists(path)) QUORVANE_SHARED_DATA_MISSING() << "line vectors not found at " << path;
    const std::vector<testing::LineVector> vectors = testing::load_line_vectors(path);
    ASSERT_EQ(vectors.size(), kVectorCount);

    int failures = 0;
    for (const testing::LineVector& vector : vectors) {
        const std::string got = testing::product_outcome(vector.line);
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
