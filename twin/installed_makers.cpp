#include "installed_makers.hpp"

#include <cerrno>
#include <utility>
#include <vector>

#include "regular_file.hpp"

namespace zorvik {

MakerRegistry readMakerFiles(std::initializer_list<std::string_view> folders, const MakerNote& note) {
    MakerRegistry registry;
    for (const char* name : {"oui36.csv", "iab.csv", "mam.csv", "oui.csv"}) {
        for (const auto folder : folders) {
            const std::string path = std::string(folder) + '/' + name;
            const FileRead file = readRegularFile(path, kMaxRegistryBytes);
            if (file.problem.empty()) {
                registry.addCsv(file.text);
                break;
            }
            // Makers are a courtesy: a file that is missing goes unmentioned, and no file stops the run.
            if (file.error != ENOENT) note("makers not read from " + path + ": " + file.problem);
        }
    }
    return registry;
}

MakerTable installedMakers(const MakerNote& note) {
    struct Read {
        MakerRegistry registry;
        std::vector<std::string> notes;
    };
    static const Read read = [] {
        Read made;
        // update-ieee-data keeps fresher copies than the package's own in /var/lib.
        made.registry = readMakerFiles({"/var/lib/ieee-data", "/usr/share/ieee-data"},
                                       [&](const std::string& text) { made.notes.push_back(text); });
        return made;
    }();
    for (const auto& text : read.notes) note(text);
    return read.registry.table();
}

}  // namespace zorvik
