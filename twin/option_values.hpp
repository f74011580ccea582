#pragma once

#include <cstdint>
#include <string>

#include <CLI/CLI.hpp>

namespace zorvik {

// Plain decimal digits only, from `min` to `max` `unit`: no sign, space or
// base prefix, each refused with a message that says why. The value is passed
// on in canonical form, so CLI11 never reads a leading zero as octal.
CLI::Validator wholeNumber(std::int64_t min, std::int64_t max, const std::string& unit);

// Any text but the empty one, which would silently stand for the default.
CLI::Validator notEmpty(const std::string& what);

// One of `choices` ("text, json, csv"), exactly.
CLI::Validator oneOf(std::vector<std::string> choices);

// A checker's threshold range, as parseAlertRange reads it.
CLI::Validator alertRange();

// --help without CLI11's "Excludes:" and "Needs:" before the descriptions,
// which say the same in words.
class HelpFormatter final : public CLI::Formatter {
public:
    std::string make_option_opts(const CLI::Option* option) const override;
};

}  // namespace zorvik
