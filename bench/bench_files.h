// The files the C++ benchmarks run on, and their common main: every named
// file, or else the shared recordings that exist and every generated
// recording in data/large, each measured by every benchmark of the program.
#pragma once

#include <algorithm>
#include <filesystem>
#include <initializer_list>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <benchmark/benchmark.h>

namespace quorvane::bench {

inline std::vector<std::filesystem::path> default_files() {
    namespace fs = std::filesystem;
    std::vector<fs::path> files;
    const fs::path real = fs::path(QUORVANE_SHARED_DIR) / "data" / "real";
    for (const char* name : {"1.197931750", "BASIC-1.132153978", "BASIC-1.132153978.gz"})
        if (fs::exists(real / name)) files.push_back(real / name);
    const fs::path large = fs::path(QUORVANE_DATA_DIR) / "large";
    if (fs::is_directory(large)) {
        std::vector<fs::path> generated;
        for (const auto& entry : fs::directory_iterator(large))
            // The generator keeps .stamp files next to its recordings.
            if (entry.is_regular_file() && entry.path().extension() != ".stamp") generated.push_back(entry.path());
        std::sort(generated.begin(), generated.end());
        files.insert(files.end(), generated.begin(), generated.end());
    }
    return files;
}

// Loads a Workload per file once and registers each benchmark on it as
// "name/file".
template <class Workload>
int run_on_files(int argc, char** argv,
                 std::initializer_list<std::pair<const char*, void (*)(benchmark::State&, const Workload*)>> benchmarks) {
    namespace fs = std::filesystem;
    benchmark::Initialize(&argc, argv);
    std::vector<fs::path> files(argv + 1, argv + argc);
    if (files.empty()) files = default_files();
    std::vector<std::unique_ptr<Workload>> workloads;
    for (const fs::path& file : files) {
        const Workload& work = *workloads.emplace_back(std::make_unique<Workload>(file));
        for (const auto& [name, run] : benchmarks) {
            std::string label = name;
            label.append("/").append(file.filename().string());
            benchmark::RegisterBenchmark(label.c_str(), run, &work)->Unit(benchmark::kMillisecond);
        }
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

}  // namespace quorvane::bench
