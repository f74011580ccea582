#include "installed_makers.hpp"

#include <charconv>
#include <chrono>
#include <utility>
#include <vector>

#include "regular_file.hpp"

namespace zorvik {
namespace {

// update-ieee-data keeps fresher copies than the package's own in /var/lib.
constexpr std::string_view kFolders[] = {"/var/lib/ieee-data", "/usr/share/ieee-data"};

}  // namespace

MakerTable installedMakers(const MakerNote& note) {
    struct Read {
        MakerRegistry registry;
        std::vector<std::string> notes;
    };
    static const Read read = [] {
        Read made;
        made.registry = readMakerFiles({kFolders[0], kFolders[1]},
                                       [&](const std::string& text) { made.notes.push_back(text); });
        return made;
    }();
    for (const auto& text : read.notes) note(text);
    return read.registry.table();
}

std::string installedMakersSource() {
    for (const auto folder : kFolders) {
        // A system file, so untrusted: only a plain count of seconds is taken from it.
        const FileRead file = readRegularFile(std::string(folder) + "/.lastupdate", 64);
        if (!file.problem.empty()) continue;
        const std::string_view text = std::string_view(file.text).substr(0, file.text.find_last_not_of(" \t\r\n") + 1);
        std::int64_t seconds = 0;
        const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), seconds);
        if (text.empty() || error != std::errc{} || end != text.data() + text.size() || seconds < 0 ||
            seconds > std::int64_t{1} << 40) {
            return "ieee-data, updated at a time its .lastupdate does not tell";
        }
        const std::chrono::year_month_day day{std::chrono::floor<std::chrono::days>(std::chrono::sys_seconds{std::chrono::seconds{seconds}})};
        const auto twoDigits = [](unsigned n) { return std::string(n < 10 ? "0" : "") + std::to_string(n); };
        return "ieee-data updated " + std::to_string(static_cast<int>(day.year())) + '-' +
               twoDigits(static_cast<unsigned>(day.month())) + '-' + twoDigits(static_cast<unsigned>(day.day()));
    }
    return "none (ieee-data is not installed)";
}

}  // namespace zorvik
