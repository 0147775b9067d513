// The shared line vectors: each row a base64 line and the outcome that
// reading it must give.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "shared_data.h"

namespace quorvane::testing {

inline std::filesystem::path line_vectors_path() {
    return shared_dir() / "data/json/line-vectors.tsv";
}

inline std::string decode_base64(std::string_view text) {
    static constexpr std::string_view kAlphabet =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    std::uint32_t bits = 0;
    int bit_count = 0;
    for (char c : text) {
        if (c == '=') break;
        const std::size_t value = kAlphabet.find(c);
        if (value == std::string_view::npos) throw std::invalid_argument("not base64: " + std::string(text));
        bits = bits << 6 | static_cast<std::uint32_t>(value);
        bit_count += 6;
        if (bit_count >= 8) {
            bit_count -= 8;
            out += static_cast<char>(bits >> bit_count & 0xFF);
        }
    }
    return out;
}

struct LineVector {
    std::size_t row;
    std::string line;
    std::string expected;
};

inline std::vector<LineVector> load_line_vectors(const std::filesystem::path& path) {
    std::ifstream file(path, std::ios::binary);
    std::vector<LineVector> vectors;
    std::string text;
    for (std::size_t row = 1; std::getline(file, text); ++row) {
        const std::size_t tab = text.find('\t');
        if (tab == std::string::npos) throw std::runtime_error("row without a tab: " + std::to_string(row));
        vectors.push_back({row, decode_base64(std::string_view(text).substr(0, tab)), text.substr(tab + 1)});
    }
    return vectors;
}

}  // namespace quorvane::testing
