// A canonical text of a market-change record: the present fields under
// their stream keys, numbers in shortest round-trip form, texts quoted. Two
// records hold the same data exactly when their dumps are equal.
#pragma once

#include <bit>
#include <charconv>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "core/cache/market_change_record.h"
#include "core/cache/stored_messages.h"

namespace quorvane::cache::testing {

class RecordDump {
public:
    std::string take() { return std::move(out_); }

    RecordDump& change(const MarketChangeRecord& record) {
        if (!record.is_object) return word("not-object");
        field("id", record.id);
        if (record.image) word("img");
        if (record.definition_kind == MarketChangeRecord::Definition::NotObject) word("marketDefinition=other");
        if (record.definition_kind == MarketChangeRecord::Definition::Object) definition(record.definition);
        field("status", record.status);
        field("betDelay", record.bet_delay);
        field("bspReconciled", record.bsp_reconciled);
        field("complete", record.complete);
        field("crossMatching", record.cross_matching);
        field("inPlay", record.in_play);
        field("runnersVoidable", record.runners_voidable);
        field("tv", record.total_matched);
        field("version", record.version);
        field("lastMatchTime", record.last_match_time);
        if (record.has_runner_changes) {
            word("rc[");
            for (const RunnerChangeRecord& change : record.runner_changes) runner_change(change);
            out_ += "]";
        }
        return *this;
    }

private:
    void definition(const MarketDefinitionRecord& d) {
        word("md{");
        field("status", d.status);
        field("betDelay", d.bet_delay);
        field("bspReconciled", d.bsp_reconciled);
        field("complete", d.complete);
        field("crossMatching", d.cross_matching);
        field("inPlay", d.in_play);
        field("runnersVoidable", d.runners_voidable);
        field("numberOfWinners", d.number_of_winners);
        field("eventId", d.event_id);
        field("eventTypeId", d.event_type_id);
        field("eventName", d.event_name);
        field("marketType", d.market_type);
        field("marketTime", d.market_time);
        field("countryCode", d.country_code);
        field("venue", d.venue);
        field("raceType", d.race_type);
        field("bspMarket", d.bsp_market);
        field("persistenceEnabled", d.persistence_enabled);
        field("eachWayDivisor", d.each_way_divisor);
        field("timezone", d.timezone);
        field("turnInPlayEnabled", d.turn_in_play_enabled);
        field("bettingType", d.betting_type);
        field("name", d.name);
        field("discountAllowed", d.discount_allowed);
        field("marketBaseRate", d.market_base_rate);
        if (d.has_regulators) {
            word("regulators[");
            for (std::string_view text : d.regulators) quoted(text);
            out_ += "]";
        }
        field("openDate", d.open_date);
        field("suspendTime", d.suspend_time);
        field("settledTime", d.settled_time);
        field("version", d.version);
        if (d.has_runners) {
            word("runners[");
            for (const DefinitionRunnerRecord& runner : d.runners) definition_runner(runner);
            out_ += "]";
        }
        out_ += "}";
    }

    void definition_runner(const DefinitionRunnerRecord& r) {
        word("{");
        if (!r.is_object) word("not-object");
        field("id", r.id);
        field("hc", r.hc);
        field("sortPriority", r.sort_priority);
        field("status", r.status);
        field("name", r.name);
        field("adjustmentFactor", r.adjustment_factor);
        field("removalDate", r.removal_date);
        sp("bsp", r.bsp);
        out_ += "}";
    }

    void runner_change(const RunnerChangeRecord& c) {
        word("{");
        field("id", std::optional(c.id));
        if (std::bit_cast<std::uint64_t>(c.hc) != 0) field("hc", std::optional(c.hc));
        field("status", c.status);
        field("adjustmentFactor", c.adjustment_factor);
        field("ltp", c.last_price_traded);
        field("tv", c.total_matched);
        field("removalDate", c.removal_date);
        pairs("spb", c.starting_price_back);
        pairs("spl", c.starting_price_lay);
        pairs("atb", c.available_to_back);
        pairs("atl", c.available_to_lay);
        pairs("trd", c.traded_volume);
        sp("spn", c.near_price);
        sp("spf", c.far_price);
        out_ += "}";
    }

    void pairs(std::string_view key, const std::optional<PricePairs>& value) {
        if (!value) return;
        word(key);
        out_ += "[";
        for (const PricePair& pair : *value) {
            if (out_.back() != '[') out_ += ",";
            number(pair.price);
            out_ += ":";
            number(pair.size);
        }
        out_ += "]";
    }

    void sp(std::string_view key, const SpInput& input) {
        if (!input.present()) return;
        word(key);
        out_ += "=";
        if (input.kind == SpInput::Kind::Number) number(input.number);
        if (input.kind == SpInput::Kind::Text) quoted(input.text);
        if (input.kind == SpInput::Kind::Other) out_ += "other";
    }

    void field(std::string_view key, const std::optional<std::string_view>& value) {
        if (!value) return;
        word(key);
        out_ += "=";
        quoted(*value);
    }
    void field(std::string_view key, const std::optional<std::int64_t>& value) {
        if (!value) return;
        word(key);
        out_ += '=';
        out_ += std::to_string(*value);
    }
    void field(std::string_view key, const std::optional<double>& value) {
        if (!value) return;
        word(key);
        out_ += "=";
        number(*value);
    }
    void field(std::string_view key, const std::optional<bool>& value) {
        if (!value) return;
        word(key);
        out_ += *value ? "=true" : "=false";
    }

    void number(double value) {
        char text[32];
        auto end = std::to_chars(text, text + sizeof text, value).ptr;
        out_.append(text, end);
    }
    void quoted(std::string_view text) {
        if (!out_.empty() && out_.back() == '"') out_ += ",";
        out_ += '"';
        out_ += text;
        out_ += '"';
    }
    RecordDump& word(std::string_view text) {
        if (!out_.empty() && out_.back() != '{' && out_.back() != '[') out_ += " ";
        out_ += text;
        return *this;
    }

    std::string out_;
};

inline std::string dump(const MarketChangeRecord& record) { return RecordDump().change(record).take(); }

// "pt=N | change | change ..." for one message.
inline std::string dump_message(std::int64_t pt, std::span<const MarketChangeRecord> changes) {
    std::string text = "pt=" + std::to_string(pt);
    for (const MarketChangeRecord& change : changes) text += " | " + dump(change);
    return text;
}

// Each stored message as dump_message() words it, joined by " || "; "" when
// nothing was stored.
inline std::string dump(const StoredMessages& store) {
    std::string text;
    MarketChangeRecord scratch;
    for (std::size_t i = 0; i < store.size(); ++i) {
        text += (i ? " || pt=" : "pt=") + std::to_string(store.publish_time(i));
        store.for_each_market_change(i, scratch, [&](const MarketChangeRecord& change) {
            text += " | " + dump(change);
        });
    }
    return text;
}

}  // namespace quorvane::cache::testing
