#include "option_values.hpp"

#include <algorithm>
#include <charconv>

#include "alert_range.hpp"

namespace zorvik {

CLI::Validator wholeNumber(std::int64_t min, std::int64_t max, const std::string& unit) {
    const std::string range = std::to_string(min) + " to " + std::to_string(max) + (unit.empty() ? "" : " " + unit);
    return {[=](std::string& value) -> std::string {
                const bool digits = !value.empty() && std::all_of(value.begin(), value.end(), [](char c) {
                    return c >= '0' && c <= '9';
                });
                if (!digits) return "'" + value + "' is not a number; give " + range + ", in decimal digits";
                std::int64_t number = 0;
                const auto error = std::from_chars(value.data(), value.data() + value.size(), number).ec;
                if (error != std::errc() || number < min || number > max) {
                    return value + " is out of range; give " + range;
                }
                value = std::to_string(number);
                return {};
            },
            range};
}

CLI::Validator notEmpty(const std::string& what) {
    return {[what](std::string& value) { return value.empty() ? "the value is empty; give " + what : std::string(); }, what};
}

CLI::Validator oneOf(std::vector<std::string> choices) {
    std::string list;
    for (const auto& choice : choices) list += (list.empty() ? "" : ", ") + choice;
    return {[choices = std::move(choices), list](std::string& value) {
                return std::find(choices.begin(), choices.end(), value) != choices.end()
                           ? std::string()
                           : value + " is not one of " + list;
            },
            list};
}

CLI::Validator alertRange() {
    return {[](std::string& value) {
                std::string why;
                return parseAlertRange(value, &why) ? std::string() : why + "; give [@]START:END, e.g. 10: or @0:3";
            },
            "RANGE"};
}

std::string HelpFormatter::make_option_opts(const CLI::Option* option) const {
    return option->get_option_text().empty() ? std::string() : " " + option->get_option_text();
}

}  // namespace zorvik
