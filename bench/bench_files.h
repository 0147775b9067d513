// The files a C++ benchmark runs on when none are named: the shared
// recordings that exist and every generated recording in data/large.
#pragma once

#include <algorithm>
#include <filesystem>
#include <vector>

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

}  // namespace quorvane::bench
