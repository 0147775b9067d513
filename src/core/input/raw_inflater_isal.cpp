#include <isa-l/crc.h>
#include <isa-l/igzip_lib.h>

#include <algorithm>
#include <limits>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include "core/input/raw_inflater.h"
#include "core/input/stream_error.h"

namespace quorvane::input {
namespace {

#if defined(__x86_64__)
[[gnu::target("avx")]] void zero_upper_halves() { _mm256_zeroupper(); }

// Asked once, on first use: a static initializer may run before the
// compiler's own CPU detection has.
bool has_avx() {
    static const bool has = [] {
        __builtin_cpu_init();
        return __builtin_cpu_supports("avx") != 0;
    }();
    return has;
}
#endif

// ISA-L's AVX-512 kernels return with the upper halves of the vector
// registers in use. Until they are zeroed, every SSE instruction of the
// thread waits on them: the line reader's and the interpreter's alike, a
// tenth of a plain file's load after one gzip file was read.
void leave_vector_state_clean() {
#if defined(__x86_64__)
    if (has_avx()) zero_upper_halves();
#endif
}

}  // namespace

struct RawInflater::State {
    inflate_state inflater;
};

// isal_inflate_init() sets what a stream needs; zeroing the 87 kB of tables
// first would cost a small file's load 2%.
RawInflater::RawInflater() : state_(std::make_unique_for_overwrite<State>()) {}
RawInflater::~RawInflater() = default;

void RawInflater::start() {
    isal_inflate_init(&state_->inflater);
    state_->inflater.crc_flag = ISAL_DEFLATE;
}

RawInflater::Progress RawInflater::inflate(const std::uint8_t* in, std::size_t in_size, std::uint8_t* out,
                                           std::size_t out_size) {
    inflate_state& inflater = state_->inflater;
    inflater.next_in = const_cast<std::uint8_t*>(in);
    inflater.avail_in = static_cast<std::uint32_t>(in_size);
    inflater.next_out = out;
    inflater.avail_out = static_cast<std::uint32_t>(std::min<std::size_t>(out_size, std::numeric_limits<std::uint32_t>::max()));
    const int status = isal_inflate(&inflater);
    leave_vector_state_clean();
    if (status < 0) throw StreamError("corrupt deflate stream");
    return {static_cast<std::size_t>(inflater.next_in - in), static_cast<std::size_t>(inflater.next_out - out),
            inflater.block_state == ISAL_BLOCK_FINISH};
}

// ISA-L reads up to 8 bytes past the end of a body into its bit buffer; the
// whole bytes among them are the start of what follows the body.
std::uint8_t* RawInflater::put_back(std::uint8_t* cursor) {
    const inflate_state& inflater = state_->inflater;
    const std::size_t read_ahead = inflater.read_in_length / 8;
    const std::uint64_t bits = inflater.read_in >> (inflater.read_in_length % 8);
    cursor -= read_ahead;
    for (std::size_t i = 0; i < read_ahead; ++i) cursor[i] = static_cast<std::uint8_t>(bits >> (8 * i));
    return cursor;
}

std::uint32_t RawInflater::crc32(std::uint32_t crc, const std::uint8_t* data, std::size_t size) {
    const std::uint32_t result = crc32_gzip_refl(crc, data, size);
    leave_vector_state_clean();
    return result;
}

}  // namespace quorvane::input
