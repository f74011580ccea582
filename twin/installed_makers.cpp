#include "installed_makers.hpp"

#include <string>

namespace zorvik {

MakerTable installedMakers() {
    static const MakerRegistry registry = [] {
        MakerRegistry read;
        // update-ieee-data keeps fresher copies than the package's own in /var/lib.
        for (const char* file : {"oui36.csv", "iab.csv", "mam.csv", "oui.csv"}) {
            static_cast<void>(read.addCsvFile(std::string("/var/lib/ieee-data/") + file) ||
                              read.addCsvFile(std::string("/usr/share/ieee-data/") + file));
        }
        return read;
    }();
    return registry.table();
}

}  // namespace zorvik
