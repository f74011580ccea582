#include "alert_range.hpp"

#include <charconv>

namespace zorvik {
namespace {

std::optional<std::int64_t> wholeNumber(std::string_view text) {
    std::int64_t number = 0;
    const char* const last = text.data() + text.size();
    const auto [at, error] = std::from_chars(text.data(), last, number);
    if (text.empty() || error != std::errc() || at != last) return std::nullopt;
    return number;
}

}  // namespace

bool AlertRange::alerts(std::int64_t value) const noexcept {
    const bool within = (!start || value >= *start) && (!end || value <= *end);
    return within == inside;
}

std::optional<AlertRange> parseAlertRange(std::string_view text, std::string* why) {
    const auto refuse = [&](const std::string& reason) -> std::optional<AlertRange> {
        // Appended, not "'" + ...: GCC 12's -O3 sees a false overlap in that.
        if (why) why->assign(1, '\'').append(text).append("' ").append(reason);
        return std::nullopt;
    };
    AlertRange range;
    range.text = text;
    std::string_view rest = text;
    if (rest.starts_with('@')) {
        range.inside = true;
        rest.remove_prefix(1);
    }
    const auto colon = rest.find(':');
    const std::string_view first = colon == std::string_view::npos ? std::string_view() : rest.substr(0, colon);
    const std::string_view last = colon == std::string_view::npos ? rest : rest.substr(colon + 1);
    if (first != "~") {
        range.start = first.empty() ? std::optional<std::int64_t>(0) : wholeNumber(first);
        if (!range.start) return refuse("is not a range: its start is not a whole number or ~");
    }
    if (!last.empty() || colon == std::string_view::npos) {
        range.end = wholeNumber(last);
        if (!range.end) return refuse("is not a range: its end is not a whole number");
    }
    if (range.start && range.end && *range.start > *range.end) return refuse("is not a range: its start is past its end");
    return range;
}

std::string_view checkStateName(CheckState state) noexcept {
    switch (state) {
    case CheckState::Ok: return "OK";
    case CheckState::Warning: return "WARNING";
    case CheckState::Critical: return "CRITICAL";
    case CheckState::Unknown: break;
    }
    return "UNKNOWN";
}

CheckState checkState(std::int64_t devices, const std::optional<AlertRange>& warning,
                      const std::optional<AlertRange>& critical) noexcept {
    if (critical && critical->alerts(devices)) return CheckState::Critical;
    if (warning && warning->alerts(devices)) return CheckState::Warning;
    return CheckState::Ok;
}

std::string checkLine(CheckState state, std::int64_t devices, std::uint64_t dropped,
                      const std::optional<AlertRange>& warning, const std::optional<AlertRange>& critical) {
    const std::string count = std::to_string(devices);
    return "ZORVIK " + std::string(checkStateName(state)) + " - " + count + (devices == 1 ? " device" : " devices") +
           "|devices=" + count + ";" + (warning ? warning->text : "") + ";" + (critical ? critical->text : "") +
           ";0; dropped=" + std::to_string(dropped) + "c";
}

}  // namespace zorvik
