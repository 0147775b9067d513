// Loading a whole stream file into stored messages, in MB/s of uncompressed
// stream bytes, with the store's size against the file's and the cost of
// decoding one stored message again. Files: the command-line arguments left
// after the benchmark flags, or else the shared recordings and data/large/*.
#include <algorithm>
#include <cstddef>
#include <filesystem>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "bench_files.h"

#include "core/input/file_source.h"
#include "core/input/gzip_source.h"
#include "core/input/path_extension.h"
#include "core/input/stream_reader.h"

namespace quorvane::input {
namespace {

namespace fs = std::filesystem;

std::size_t uncompressed_size(const std::string& path) {
    if (!names_gzip_file(path)) return fs::file_size(path);
    FileSource file(path);
    GzipSource gzip(file);
    std::vector<std::byte> buffer(1 << 20);
    std::size_t total = 0;
    while (const std::size_t got = gzip.read(buffer)) total += got;
    return total;
}

struct Workload {
    std::string path;
    std::size_t bytes;
    cache::StoredMessages messages;

    explicit Workload(const fs::path& file)
        : path(file.string()), bytes(uncompressed_size(path)), messages(read_stream_file(path)) {}
};

void BM_Load(benchmark::State& state, const Workload* work) {
    for (auto _ : state) benchmark::DoNotOptimize(read_stream_file(work->path).size());
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * work->bytes));
    state.counters["store_x_file"] =
        static_cast<double>(work->messages.memory_bytes()) / static_cast<double>(std::max<std::size_t>(work->bytes, 1));
}

// What a step pays before applying: decoding its message's records.
void BM_Decode(benchmark::State& state, const Workload* work) {
    const cache::StoredMessages& messages = work->messages;
    cache::MarketChangeRecord scratch;
    for (auto _ : state) {
        for (std::size_t index = 0; index < messages.size(); ++index) {
            messages.for_each_market_change(index, scratch, [](const cache::MarketChangeRecord& change) {
                benchmark::DoNotOptimize(change.runner_changes.data());
            });
        }
    }
    using benchmark::Counter;
    state.counters["per_message"] = Counter(static_cast<double>(state.iterations() * messages.size()),
                                            Counter::kIsRate | Counter::kInvert);
}

}  // namespace
}  // namespace quorvane::input

int main(int argc, char** argv) {
    using namespace quorvane::input;
    return quorvane::bench::run_on_files<Workload>(argc, argv, {
        {"load", BM_Load},
        {"decode", BM_Decode},
    });
}
