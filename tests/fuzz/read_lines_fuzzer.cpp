// Fuzzes the one-pass line reading against an independent parser. Each line
// of the input is read both ways: the reader must refuse exactly the lines the
// parser refuses, and store exactly what the parser's reading does.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "../cpp/record_dump.h"
#include "core/input/line_text.h"
#include "core/input/select_line_message.h"
#include "core/input/stream_error.h"
#include "oracle/document_message.h"
#include "oracle/json_line_parser.h"

namespace {

using namespace quorvane;

void read_both_ways(input::JsonLineParser& parser, std::string_view line) {
    if (!input::is_valid_utf8(line) || input::is_blank_line(line)) return;
    // The line feed that ends it, then digits that must not be taken for
    // part of the line.
    std::string padded(line);
    padded += '\n';
    padded.append(simdjson::SIMDJSON_PADDING - 1, '7');
    const std::string_view view(padded.data(), line.size());
    cache::StoredMessages direct;
    std::string fault;
    try {
        input::LineScratch scratch;
        input::select_line_message(view, direct, scratch);
    } catch (const input::StreamError& error) {
        fault = error.what();
    }
    std::string parsed;
    try {
        const auto message = input::select_document_message(parser.parse(view));
        if (message) parsed = cache::testing::dump_message(message->pt, message->changes);
    } catch (const input::StreamError& error) {
        if (fault != error.what()) std::abort();
        return;
    }
    if (!fault.empty() || cache::testing::dump(direct) != parsed) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static input::JsonLineParser parser;
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    for (std::size_t start = 0; start <= text.size();) {
        std::size_t end = text.find('\n', start);
        if (end == std::string_view::npos) end = text.size();
        read_both_ways(parser, text.substr(start, end - start));
        start = end + 1;
    }
    return 0;
}
