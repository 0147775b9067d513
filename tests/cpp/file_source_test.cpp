#include "core/input/file_source.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include <unistd.h>

#include "core/input/stream_error.h"
#include "stream_test_support.h"

namespace quorvane::input {
namespace {

using testing::TempFile;

std::string fault_of_reading(const std::string& path) {
    try {
        FileSource file(path);
        testing::read_all(file);
    } catch (const StreamError& error) {
        return error.what();
    }
    return "";
}

TEST(FileSource, ReadsTheWholeFile) {
    const std::string content = testing::sample_lines(40000);
    const TempFile file("plain.json", content);
    FileSource source(file.path());
    EXPECT_EQ(testing::read_all(source, 1 << 20), content);
}

// The size decides whether a plain file is read ahead; a pipe has none.
TEST(FileSource, KnowsTheSizeOfARegularFileAndNoneOfAPipe) {
    const TempFile file("sized.json", testing::sample_lines(100));
    EXPECT_EQ(FileSource(file.path()).size(), std::filesystem::file_size(file.path()));
    int ends[2];
    ASSERT_EQ(::pipe(ends), 0);
    ASSERT_EQ(::write(ends[1], "{}\n", 3), 3);
    EXPECT_EQ(FileSource("/proc/self/fd/" + std::to_string(ends[0])).size(), 0u);
    ::close(ends[0]);
    ::close(ends[1]);
}

TEST(FileSource, MissingFileIsDescribedByTheSystem) {
    const TempFile file("present.json", "x");
    EXPECT_EQ(fault_of_reading(file.path() + ".missing"), "No such file or directory (os error 2)");
}

TEST(FileSource, DirectoryFailsOnReading) {
    const TempFile file("inner.json", "x");
    const std::string directory = std::filesystem::path(file.path()).parent_path().string();
    EXPECT_EQ(fault_of_reading(directory), "Is a directory (os error 21)");
}

TEST(FileSource, PathWithNulIsRefusedBeforeOpening) {
    const TempFile file("exists.json", "x");
    // The part before the NUL names a real file: it must not be opened.
    EXPECT_EQ(fault_of_reading(file.path() + std::string(1, '\0') + "rest"),
              "strings passed to WinAPI cannot contain NULs");
}

std::size_t open_descriptors() {
    const auto entries = std::filesystem::directory_iterator("/proc/self/fd");
    return static_cast<std::size_t>(std::distance(begin(entries), end(entries)));
}

TEST(FileSource, ClosesTheFileWhenItGoesAway) {
    const TempFile file("closed.json", "content\n");
    const std::size_t before = open_descriptors();
    {
        FileSource source(file.path());
        EXPECT_EQ(open_descriptors(), before + 1);
        FileSource moved = std::move(source);
        EXPECT_EQ(testing::read_all(moved), "content\n");
    }
    EXPECT_EQ(open_descriptors(), before);
}

}  // namespace
}  // namespace quorvane::input
