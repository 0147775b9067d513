// Throughput of the reader's line steps over a real recording, beside the
// tests' independent parser (simdjson) on the same lines.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

#include <simdjson.h>

#include "core/cache/stored_messages.h"
#include "core/input/line_text.h"
#include "core/input/select_line_message.h"
#include "oracle/json_line_parser.h"

namespace {

// The file's bytes followed by padding, and its lines as views into them,
// the way the line reader hands them over.
struct Recording {
    std::string bytes;
    std::vector<std::string_view> lines;
    std::size_t line_bytes = 0;
};

const Recording& recording() {
    static const Recording loaded = [] {
        const auto path = std::filesystem::path(QUORVANE_SHARED_DIR) / "data/real/1.197931750";
        std::ifstream file(path, std::ios::binary);
        Recording r;
        r.bytes.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
        const std::size_t size = r.bytes.size();
        r.bytes.append(simdjson::SIMDJSON_PADDING, ' ');
        for (std::size_t start = 0; start < size;) {
            std::size_t end = r.bytes.find('\n', start);
            if (end == std::string::npos || end > size) end = size;
            std::size_t stop = end;
            if (stop > start && r.bytes[stop - 1] == '\r') --stop;
            r.lines.emplace_back(r.bytes.data() + start, stop - start);
            r.line_bytes += stop - start;
            start = end + 1;
        }
        return r;
    }();
    return loaded;
}

void report(benchmark::State& state, const Recording& r) {
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * r.line_bytes));
    state.counters["lines"] = static_cast<double>(r.lines.size());
}

// The tests' parser with its number rewriting, into a document only.
void BM_JsonLineParser(benchmark::State& state) {
    const Recording& r = recording();
    if (r.lines.empty()) return state.SkipWithError("recording not found");
    quorvane::input::JsonLineParser parser;
    for (auto _ : state) {
        for (std::string_view line : r.lines) benchmark::DoNotOptimize(parser.parse(line));
    }
    report(state, r);
}
BENCHMARK(BM_JsonLineParser);

// The reader's steps on each line: the blank-line check, then the one-pass
// reading into records, which are stored.
void BM_LineSteps(benchmark::State& state) {
    const Recording& r = recording();
    if (r.lines.empty()) return state.SkipWithError("recording not found");
    for (auto _ : state) {
        quorvane::cache::StoredMessages messages;
        for (std::string_view line : r.lines) {
            if (quorvane::input::is_blank_line(line)) continue;
            quorvane::input::select_line_message(line, messages);
        }
        benchmark::DoNotOptimize(messages.size());
    }
    report(state, r);
}
BENCHMARK(BM_LineSteps);

// The bare DOM parse, for the overhead of the checks around it.
void BM_SimdjsonDom(benchmark::State& state) {
    const Recording& r = recording();
    if (r.lines.empty()) return state.SkipWithError("recording not found");
    simdjson::dom::parser parser;
    for (auto _ : state) {
        for (std::string_view line : r.lines) {
            benchmark::DoNotOptimize(parser.parse(line.data(), line.size(), false).value_unsafe());
        }
    }
    report(state, r);
}
BENCHMARK(BM_SimdjsonDom);

}  // namespace

BENCHMARK_MAIN();
