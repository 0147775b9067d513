// Where the tests find the shared recordings and line vectors, and what a test
// does without them: it skips on a developer's machine and fails in CI
// (CI=true), where a run that skipped them would pass without checking them.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <string_view>

#include <gtest/gtest.h>

namespace quorvane::testing {

// QUORVANE_SHARED_DIR in the environment points the tests at another copy of
// the shared data, or at none; by default it is ../shared beside the checkout.
inline std::filesystem::path shared_dir() {
    const char* chosen = std::getenv("QUORVANE_SHARED_DIR");
    return chosen && *chosen ? std::filesystem::path(chosen) : std::filesystem::path(QUORVANE_SHARED_DIR);
}

inline bool shared_data_required() {
    const char* ci = std::getenv("CI");
    return ci && std::string_view(ci) == "true";
}

}  // namespace quorvane::testing

// Ends the test, skipped or failed as above; the reason is streamed after it.
#define QUORVANE_SHARED_DATA_MISSING()                                                                       \
    return GTEST_MESSAGE_("shared data missing", ::quorvane::testing::shared_data_required()                  \
                                                     ? ::testing::TestPartResult::kFatalFailure                \
                                                     : ::testing::TestPartResult::kSkip)
