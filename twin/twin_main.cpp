#include "twin_main.hpp"

namespace zorvik {

std::vector<NetworkInterface> probeInterfaces(const TwinOptions& options,
                                              const std::function<std::vector<NetworkInterface>()>& list) {
    if (options.allInterfaces) {
        return everyMulticastInterface(list());
    }
    if (!options.interface.empty()) {
        return {chooseInterface(list(), options.interface)};
    }
    return {};
}

std::string withNewlines(std::string_view text, std::string_view newline) {
    std::string out;
    for (const char c : text) {
        if (c == '\n') {
            out += newline;
        } else {
            out += c;
        }
    }
    return out;
}

}  // namespace zorvik
