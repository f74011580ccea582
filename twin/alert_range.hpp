#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace zorvik {

// A threshold as monitoring checkers write it: [@]start:end, start 0 and its
// colon optional, an empty end or a start of ~ unbounded. A value outside
// start..end (both included) alerts; with @, one inside does.
struct AlertRange {
    std::optional<std::int64_t> start;  // none: no lower bound
    std::optional<std::int64_t> end;    // none: no upper bound
    bool inside = false;
    std::string text;  // as given, for the performance data

    bool alerts(std::int64_t value) const noexcept;
};

// The range, or why `text` is none (whole numbers only: devices are counted).
std::optional<AlertRange> parseAlertRange(std::string_view text, std::string* why = nullptr);

// The check's states, each its exit status.
enum class CheckState { Ok = 0, Warning = 1, Critical = 2, Unknown = 3 };
std::string_view checkStateName(CheckState state) noexcept;
// Critical before warning, as the checkers read them.
CheckState checkState(std::int64_t devices, const std::optional<AlertRange>& warning,
                      const std::optional<AlertRange>& critical) noexcept;

// The check's one line: "ZORVIK OK - 12 devices|devices=12;10:;5:;0; dropped=0c".
std::string checkLine(CheckState state, std::int64_t devices, std::uint64_t dropped,
                      const std::optional<AlertRange>& warning, const std::optional<AlertRange>& critical);

}  // namespace zorvik
