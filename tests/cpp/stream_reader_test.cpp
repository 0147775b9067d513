#include "core/input/stream_reader.h"

#include <gtest/gtest.h>

#include <clocale>
#include <filesystem>
#include <string>

#include "core/input/line_reader.h"
#include "core/input/path_extension.h"
#include "core/input/stream_error.h"
#include "stream_test_support.h"

namespace quorvane::input {
namespace {

using testing::bytes_of;
using testing::gzip_member;
using testing::TempFile;

struct ExtensionCase {
    const char* path;
    std::optional<std::string_view> extension;
    bool gzip;
};

class PathExtension : public ::testing::TestWithParam<ExtensionCase> {};

TEST_P(PathExtension, DecidesTheSource) {
    EXPECT_EQ(path_extension(GetParam().path), GetParam().extension);
    EXPECT_EQ(names_gzip_file(GetParam().path), GetParam().gzip);
}

INSTANTIATE_TEST_SUITE_P(Paths, PathExtension,
                         ::testing::Values(ExtensionCase{"a.gz", "gz", true},
                                           ExtensionCase{"a.gzip", "gzip", true},
                                           ExtensionCase{"a.tar.gz", "gz", true},
                                           ExtensionCase{"/data/2024/1.23.gz", "gz", true},
                                           ExtensionCase{"..gz", "gz", true},
                                           ExtensionCase{"a.GZ", "GZ", false},
                                           ExtensionCase{"a.Gzip", "Gzip", false},
                                           ExtensionCase{"a.gz.json", "json", false},
                                           ExtensionCase{"a.", "", false},
                                           ExtensionCase{".gz", std::nullopt, false},
                                           ExtensionCase{"dir/.gz", std::nullopt, false},
                                           ExtensionCase{"dir.gz/file", std::nullopt, false},
                                           ExtensionCase{"x/..", std::nullopt, false},
                                           ExtensionCase{"..", std::nullopt, false},
                                           ExtensionCase{"a.gz/", std::nullopt, false},
                                           ExtensionCase{"a.gz/.", std::nullopt, false},
                                           ExtensionCase{"", std::nullopt, false}));

std::string message_line(std::int64_t pt) {
    return "{\"op\":\"mcm\",\"pt\":" + std::to_string(pt) + ",\"mc\":[{\"id\":\"1.2\",\"rc\":[]}]}";
}

// Lines that each keep one message, publish times 1..count, with the line
// ending given.
std::string message_lines(int count, std::string_view ending = "\n") {
    std::string text;
    for (int pt = 1; pt <= count; ++pt) text += message_line(pt) + std::string(ending);
    return text;
}

std::vector<std::int64_t> publish_times(const cache::StoredMessages& messages) {
    std::vector<std::int64_t> times;
    for (std::size_t i = 0; i < messages.size(); ++i) times.push_back(messages.publish_time(i));
    return times;
}

std::vector<std::int64_t> one_to(int count) {
    std::vector<std::int64_t> times;
    for (int pt = 1; pt <= count; ++pt) times.push_back(pt);
    return times;
}

std::string fault_of_file(std::string_view name, std::string_view content) {
    const TempFile file(name, content);
    try {
        read_stream_file(file.path());
    } catch (const StreamError& error) {
        return error.what();
    }
    return "";
}

struct FileCase {
    const char* label;
    const char* name;
    std::string content;
    std::vector<std::int64_t> times;
};

class StreamFiles : public ::testing::TestWithParam<FileCase> {};

TEST_P(StreamFiles, KeepTheirMessagesInOrder) {
    const TempFile file(GetParam().name, GetParam().content);
    EXPECT_EQ(publish_times(read_stream_file(file.path())), GetParam().times);
}

const std::string big_pad(LINE_BUFFER_SIZE + 100, 'p');

INSTANTIATE_TEST_SUITE_P(
    Contents, StreamFiles,
    ::testing::Values(
        FileCase{"plain", "m.json", message_lines(5), one_to(5)},
        FileCase{"without_extension", "m", message_lines(2), one_to(2)},
        FileCase{"crlf", "m.json", message_lines(3, "\r\n"), one_to(3)},
        FileCase{"last_line_without_feed", "m.json", message_lines(2) + message_line(3), one_to(3)},
        FileCase{"empty", "m.json", "", {}},
        FileCase{"blank_lines", "m.json", "\n \t\r\n\r\n\xC2\xA0\n", {}},
        FileCase{"blank_lines_between", "m.json", "\n" + message_line(1) + "\n\n  \n" + message_line(2), one_to(2)},
        FileCase{"gz", "m.gz", gzip_member(message_lines(4)), one_to(4)},
        FileCase{"gzip", "m.json.gzip", gzip_member(message_lines(4)), one_to(4)},
        FileCase{"upper_case_gz_is_plain", "m.GZ", message_lines(2), one_to(2)},
        FileCase{"gzip_members", "m.gz",
                 gzip_member(message_lines(2)) + gzip_member(message_line(3) + "\n" + message_line(4)) +
                     gzip_member("\n" + message_line(5) + "\n"),
                 one_to(5)},
        FileCase{"line_longer_than_buffer", "m.json",
                 message_line(1) + "\n{\"pt\":2,\"pad\":\"" + big_pad + "\",\"mc\":[]}\r\n" + message_line(3), one_to(3)}),
    [](const auto& info) { return std::string(info.param.label); });

struct FileFaultCase {
    const char* label;
    const char* name;
    std::string content;
    const char* message;
};

class StreamFileFaults : public ::testing::TestWithParam<FileFaultCase> {};

TEST_P(StreamFileFaults, FailTheWholeRead) {
    EXPECT_EQ(fault_of_file(GetParam().name, GetParam().content), GetParam().message);
}

INSTANTIATE_TEST_SUITE_P(
    Messages, StreamFileFaults,
    ::testing::Values(
        FileFaultCase{"gzip_named_json", "m.json", gzip_member(message_lines(3)), "stream did not contain valid UTF-8"},
        FileFaultCase{"plain_named_gz", "m.gz", message_lines(1), "invalid gzip header"},
        FileFaultCase{"empty_gz", "m.gz", "", "unexpected end of file"},
        FileFaultCase{"invalid_utf8_in_last_line", "m.json", message_lines(2) + "{\"pt\":\xFF}",
                      "stream did not contain valid UTF-8"},
        FileFaultCase{"invalid_utf8_in_blank_looking_line", "m.json", message_lines(1) + " \x80 \n" + message_lines(1),
                      "stream did not contain valid UTF-8"},
        FileFaultCase{"truncated_gz", "m.gz", gzip_member(message_lines(3)).substr(0, 30), "unexpected end of file"},
        FileFaultCase{"second_member_cut", "m.gz", gzip_member(message_lines(3)) + std::string("\x1F\x8B\x08", 3),
                      "unexpected end of file"}),
    [](const auto& info) { return std::string(info.param.label); });

struct FaultLineCase {
    const char* label;
    std::string content;
    bool gzip;
    std::size_t line_number;  // 0: a fault of the data, not of a line
};

class FaultLines : public ::testing::TestWithParam<FaultLineCase> {};

TEST_P(FaultLines, CountEveryLineOfTheDecompressedData) {
    try {
        read_stream_bytes(bytes_of(GetParam().content), GetParam().gzip);
        FAIL() << "no fault";
    } catch (const StreamError& error) {
        EXPECT_EQ(error.line_number(), GetParam().line_number);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Faults, FaultLines,
    ::testing::Values(
        FaultLineCase{"json_after_blank_and_crlf_lines",
                      "\n" + message_lines(2, "\r\n") + " \r\n{\"pt\":\n" + message_line(9), false, 5},
        FaultLineCase{"invalid_utf8", message_lines(2) + "\xFF\n" + message_lines(1), false, 3},
        FaultLineCase{"after_a_line_longer_than_buffer",
                      message_line(1) + "\n{\"pt\":2,\"pad\":\"" + big_pad + "\",\"mc\":[]}\n[1,]", false, 3},
        FaultLineCase{"json_in_gzip", gzip_member(message_lines(6) + "trux\n"), true, 7},
        FaultLineCase{"truncated_gzip", gzip_member(message_lines(3)).substr(0, 30), true, 0}),
    [](const auto& info) { return std::string(info.param.label); });

TEST(ReadStreamFile, DirectoryNamedGzFailsThroughTheGzipHeader) {
    const TempFile file("d.gz/inner", "x");
    const std::string directory = std::filesystem::path(file.path()).parent_path().string();
    try {
        read_stream_file(directory);
        FAIL() << "a directory was read";
    } catch (const StreamError& error) {
        EXPECT_STREQ(error.what(), "Is a directory (os error 21)");
    }
}

TEST(ReadStreamBytes, ReadsPlainAndGzipAlike) {
    const std::string text = message_lines(50, "\r\n");
    const std::string compressed = gzip_member(text);
    EXPECT_EQ(publish_times(read_stream_bytes(bytes_of(text), false)), one_to(50));
    EXPECT_EQ(publish_times(read_stream_bytes(bytes_of(compressed), true)), one_to(50));
    EXPECT_THROW(read_stream_bytes(bytes_of(compressed), false), StreamError);
    EXPECT_THROW(read_stream_bytes(bytes_of(text), true), StreamError);
}

// Under a decimal comma a locale-bound conversion would stop at the point and
// find 1.5e400 in range. The locale is generated by scripts/bootstrap.sh.
TEST(ReadStreamBytes, NumberRangeIsJudgedTheSameUnderADecimalCommaLocale) {
    const std::string saved = std::setlocale(LC_NUMERIC, nullptr);
    ASSERT_NE(std::setlocale(LC_NUMERIC, "de_DE.UTF-8"), nullptr) << "locale de_DE.UTF-8 is not installed";
    std::string message;
    try {
        read_stream_bytes(bytes_of("{\"pt\": 1, \"mc\": [{\"id\": \"1.1\", \"tv\": 1.5e400}]}\n"), false);
    } catch (const StreamError& error) {
        message = error.what();
    }
    std::setlocale(LC_NUMERIC, saved.c_str());
    EXPECT_EQ(message, "number out of range at line 1 column 44");
}

TEST(ReadStreamFile, RecordedFileAndItsGzipCopyAgree) {
    const std::filesystem::path real = testing::shared_dir() / "data/real";
    if (!std::filesystem::exists(real / "BASIC-1.132153978.gz")) {
        QUORVANE_SHARED_DATA_MISSING() << "shared recordings not found under " << real;
    }
    const auto plain = read_stream_file((real / "BASIC-1.132153978").string());
    const auto gzip = read_stream_file((real / "BASIC-1.132153978.gz").string());
    EXPECT_GT(plain.size(), 0u);
    EXPECT_EQ(publish_times(plain), publish_times(gzip));
}

}  // namespace
}  // namespace quorvane::input
