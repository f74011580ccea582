#include <cerrno>

#include "installed_makers.hpp"
#include "interface_choice.hpp"
#include "regular_file.hpp"

namespace zorvik {
namespace {

constexpr const char* kRegistryFiles[] = {"oui36.csv", "iab.csv", "mam.csv", "oui.csv"};

// Adds the registry at `path` if it is there and usable; a note says why one that is there is not.
bool addMakerFile(MakerRegistry& registry, const std::string& path, const MakerNote& note) {
    const FileRead file = readRegularFile(path, kMaxRegistryBytes);
    if (file.problem.empty()) {
        registry.addCsv(file.text);
        return true;
    }
    // Makers are a courtesy: a file that is missing goes unmentioned, and no file stops the run.
    if (file.error != ENOENT) note("makers not read from " + path + ": " + file.problem);
    return false;
}

}  // namespace

MakerRegistry readMakerFiles(std::initializer_list<std::string_view> folders, const MakerNote& note) {
    MakerRegistry registry;
    for (const char* name : kRegistryFiles) {
        for (const auto folder : folders) {
            if (addMakerFile(registry, std::string(folder) + '/' + name, note)) break;
        }
    }
    return registry;
}

MakerRegistry folderMakers(const std::string& folder, const MakerNote& note) {
    MakerRegistry registry;
    int read = 0;
    for (const char* name : kRegistryFiles) read += addMakerFile(registry, folder + '/' + name, note) ? 1 : 0;
    if (read == 0) {
        throw UsageError("--maker-dir: no registry (oui.csv, mam.csv, oui36.csv or iab.csv) could be read in " + folder);
    }
    return registry;
}

}  // namespace zorvik
