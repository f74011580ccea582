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

std::string dropNote(const DropCounts& drops, std::string_view help) {
    const std::uint64_t bySystem = drops.bySystem.value_or(0);
    if (bySystem == 0 && drops.atCaps == 0) {
        return {};
    }
    std::string note = std::string(kTwinName) + ": answers were lost: ";
    note += drops.bySystem ? "the system dropped " + std::to_string(bySystem) : "the system does not count its drops";
    if (drops.bufferBytes) {
        note += " (its receive buffer held " + std::to_string(*drops.bufferBytes) + " bytes)";
    }
    note += ", and this program dropped " + std::to_string(drops.atCaps) + " at its limit of " +
            std::to_string(ArrivalQueue::kMaxQueuedDatagrams) + " answers or " +
            std::to_string(ArrivalQueue::kMaxQueuedBytes >> 20) + " MiB waiting; " + std::string(help) + "\n";
    return note;
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
