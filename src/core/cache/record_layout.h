// The layout of each stored record: a varint mask of presence bits (and the
// values of booleans), then the payloads of the present entries in entry
// order; nested records follow the same layout. Each layout below numbers its
// entries and places their bits; fields() walks the same entries in the same
// order for the store's decoder. The plain fields come from message_fields.h.
#pragma once

#include <array>
#include <concepts>
#include <cstddef>
#include <cstdint>
#include <type_traits>

#include "core/cache/market_change_record.h"
#include "core/cache/message_fields.h"

namespace quorvane::cache::layout {

// The mask bits of each way of encoding an entry.
constexpr unsigned kBits_maybe = 1, kBits_boolean = 2, kBits_sp_input = 2, kBits_flag = 1, kBits_two_bits = 2,
                   kBits_list = 1, kBits_zero_or = 1, kBits_always = 0, kBits_record = 0;

// A record's presence bits are one 64-bit mask, and its payloads at most 32.
constexpr unsigned kMaskBits = 64;
constexpr std::size_t kMaxEntries = 32;

// The first bit of each entry, from the bits each takes.
template <std::size_t N>
constexpr std::array<unsigned, N> first_bits(const std::array<unsigned, N>& widths) {
    static_assert(N <= kMaxEntries);
    std::array<unsigned, N> first{};
    unsigned next = 0;
    for (std::size_t i = 0; i < N; ++i) {
        first[i] = next;
        next += widths[i];
    }
    if (next > kMaskBits) throw "a record's presence bits must fit one mask";
    return first;
}

#define QUORVANE_LAYOUT_ENTRY(key_, member_, reading_, encoding_) member_,
#define QUORVANE_LAYOUT_WIDTH(key_, member_, reading_, encoding_) kBits_##encoding_,

// Nearly every runner change carries its keys in this order, "id" last.
struct RunnerChange {
    enum Entry : unsigned { QUORVANE_RUNNER_CHANGE_FIELDS(QUORVANE_LAYOUT_ENTRY) hc, id, kEntries };
    static constexpr std::array<unsigned, kEntries> bit =
        first_bits<kEntries>({QUORVANE_RUNNER_CHANGE_FIELDS(QUORVANE_LAYOUT_WIDTH) kBits_zero_or, kBits_always});
};

struct DefinitionRunner {
    enum Entry : unsigned { is_object, QUORVANE_DEFINITION_RUNNER_FIELDS(QUORVANE_LAYOUT_ENTRY) kEntries };
    static constexpr std::array<unsigned, kEntries> bit =
        first_bits<kEntries>({kBits_flag, QUORVANE_DEFINITION_RUNNER_FIELDS(QUORVANE_LAYOUT_WIDTH)});
};

struct Definition {
    enum Entry : unsigned {
        QUORVANE_DEFINITION_HEAD_FIELDS(QUORVANE_LAYOUT_ENTRY) runners,
        regulators,
        QUORVANE_DEFINITION_TAIL_FIELDS(QUORVANE_LAYOUT_ENTRY) kEntries
    };
    static constexpr std::array<unsigned, kEntries> bit =
        first_bits<kEntries>({QUORVANE_DEFINITION_HEAD_FIELDS(QUORVANE_LAYOUT_WIDTH) kBits_list, kBits_list,
                              QUORVANE_DEFINITION_TAIL_FIELDS(QUORVANE_LAYOUT_WIDTH)});
};

// The usual market change, "id", "rc" and "tv", has a mask of one byte.
struct MarketChange {
    enum Entry : unsigned {
        is_object,
        image,
        definition_kind,
        id,
        runner_changes,
        QUORVANE_MARKET_CHANGE_FIELDS(QUORVANE_LAYOUT_ENTRY) definition,
        kEntries
    };
    static constexpr std::array<unsigned, kEntries> bit = first_bits<kEntries>(
        {kBits_flag, kBits_flag, kBits_two_bits, kBits_maybe, kBits_list,
         QUORVANE_MARKET_CHANGE_FIELDS(QUORVANE_LAYOUT_WIDTH) kBits_record});
};

#undef QUORVANE_LAYOUT_WIDTH
#undef QUORVANE_LAYOUT_ENTRY

template <class R, class T>
concept record_of = std::same_as<std::remove_const_t<R>, T>;

// The entries of each layout above, in its order, for an Io that offers
// one call per way of encoding.
#define QUORVANE_LAYOUT_FIELD(key_, member_, reading_, encoding_) io.encoding_(record.member_);

template <class Io, record_of<RunnerChangeRecord> R>
void fields(Io& io, R& record) {
    QUORVANE_RUNNER_CHANGE_FIELDS(QUORVANE_LAYOUT_FIELD)
    io.zero_or(record.hc);
    io.always(record.id);
}

template <class Io, record_of<DefinitionRunnerRecord> R>
void fields(Io& io, R& record) {
    io.flag(record.is_object);
    QUORVANE_DEFINITION_RUNNER_FIELDS(QUORVANE_LAYOUT_FIELD)
}

template <class Io, record_of<MarketDefinitionRecord> R>
void fields(Io& io, R& record) {
    QUORVANE_DEFINITION_HEAD_FIELDS(QUORVANE_LAYOUT_FIELD)
    io.list(record.has_runners, record.runners);
    io.list(record.has_regulators, record.regulators);
    QUORVANE_DEFINITION_TAIL_FIELDS(QUORVANE_LAYOUT_FIELD)
}

template <class Io, record_of<MarketChangeRecord> R>
void fields(Io& io, R& record) {
    io.flag(record.is_object);
    io.flag(record.image);
    io.two_bits(record.definition_kind);
    io.maybe(record.id);
    io.list(record.has_runner_changes, record.runner_changes);
    QUORVANE_MARKET_CHANGE_FIELDS(QUORVANE_LAYOUT_FIELD)
    // Read after the mask has given the kind.
    if (record.definition_kind == MarketChangeRecord::Definition::Object) io.record(record.definition);
}

#undef QUORVANE_LAYOUT_FIELD

}  // namespace quorvane::cache::layout
