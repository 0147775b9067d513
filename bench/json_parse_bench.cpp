// Throughput over the lines of stream files: the reader's line steps, the
// tests' independent parser and simdjson's bare DOM parse, which bench.py
// takes as the yardstick of a load. Rates count the file's uncompressed
// bytes, as bench.py's do. Files: the command-line arguments left after the
// benchmark flags, or else the shared recordings and data/large/*.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include <benchmark/benchmark.h>
#include <simdjson.h>

#include "bench_files.h"

#include "core/cache/stored_messages.h"
#include "core/input/bz2_source.h"
#include "core/input/file_source.h"
#include "core/input/gzip_source.h"
#include "core/input/line_text.h"
#include "core/input/path_extension.h"
#include "core/input/select_line_message.h"
#include "oracle/json_line_parser.h"

namespace quorvane::input {
namespace {

std::string uncompressed_bytes(const std::string& path) {
    FileSource file(path);
    std::unique_ptr<ByteSource> decoder;
    if (names_gzip_file(path)) decoder = std::make_unique<GzipSource>(file);
    if (names_bz2_file(path)) decoder = std::make_unique<Bz2Source>(file);
    ByteSource& source = decoder ? *decoder : file;
    std::string bytes;
    std::vector<std::byte> buffer(1 << 20);
    while (const std::size_t got = source.read(buffer)) bytes.append(reinterpret_cast<const char*>(buffer.data()), got);
    return bytes;
}

// The file's uncompressed bytes followed by padding, and its lines as views
// into them, split as the line reader splits them.
struct Recording {
    std::string bytes;
    std::size_t file_bytes;
    std::vector<std::string_view> lines;

    explicit Recording(const std::filesystem::path& path)
        : bytes(uncompressed_bytes(path.string())), file_bytes(bytes.size()) {
        bytes.append(simdjson::SIMDJSON_PADDING, ' ');
        for (std::size_t start = 0; start < file_bytes;) {
            std::size_t end = bytes.find('\n', start);
            if (end == std::string::npos || end > file_bytes) end = file_bytes;
            std::size_t stop = end;
            if (stop > start && bytes[stop - 1] == '\r') --stop;
            lines.emplace_back(bytes.data() + start, stop - start);
            start = end + 1;
        }
    }
};

void report(benchmark::State& state, const Recording& r) {
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * r.file_bytes));
    state.counters["lines"] = static_cast<double>(r.lines.size());
}

// The tests' parser with its number rewriting, into a document only.
void BM_JsonLineParser(benchmark::State& state, const Recording* r) {
    JsonLineParser parser;
    for (auto _ : state) {
        for (std::string_view line : r->lines) benchmark::DoNotOptimize(parser.parse(line));
    }
    report(state, *r);
}

// The reader's steps on each line: the blank-line check, then the one-pass
// reading into records, which are stored.
void BM_LineSteps(benchmark::State& state, const Recording* r) {
    for (auto _ : state) {
        cache::StoredMessages messages;
        LineScratch scratch;
        for (std::string_view line : r->lines) {
            if (is_blank_line(line)) continue;
            select_line_message(line, messages, scratch);
        }
        benchmark::DoNotOptimize(messages.size());
    }
    report(state, *r);
}

// simdjson's DOM parse of every line into a document that is dropped: the
// fastest general parser's cost of reading the same lines.
void BM_SimdjsonDom(benchmark::State& state, const Recording* r) {
    simdjson::dom::parser parser;
    for (auto _ : state) {
        for (std::string_view line : r->lines) {
            benchmark::DoNotOptimize(parser.parse(line.data(), line.size(), false).value_unsafe());
        }
    }
    report(state, *r);
}

}  // namespace
}  // namespace quorvane::input

int main(int argc, char** argv) {
    using namespace quorvane::input;
    // simdjson's rate depends on its version and the kernels it chose for this CPU.
    benchmark::AddCustomContext("simdjson_version", std::to_string(simdjson::SIMDJSON_VERSION_MAJOR) + "." +
                                                        std::to_string(simdjson::SIMDJSON_VERSION_MINOR) + "." +
                                                        std::to_string(simdjson::SIMDJSON_VERSION_REVISION));
    benchmark::AddCustomContext("simdjson_implementation", simdjson::get_active_implementation()->name());
    return quorvane::bench::run_on_files<Recording>(argc, argv, {
        {"oracle", BM_JsonLineParser},
        {"line_steps", BM_LineSteps},
        {"dom", BM_SimdjsonDom},
    });
}
