#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "failure.hpp"
#include "interface_choice.hpp"
#include "twin_options.hpp"
#include "twin_program.hpp"

namespace zorvik {

// The interfaces the probe leaves by, as the options ask, from those `list`
// gives; none for the route's choice.
std::vector<NetworkInterface> probeInterfaces(const TwinOptions& options,
                                              const std::function<std::vector<NetworkInterface>()>& list);

// One line on what the system and the program dropped, ending in "\n", that
// says where help is; empty when nothing was dropped.
std::string dropNote(const DropCounts& drops, std::string_view help);

// `text`, whose lines end in "\n", with the console's own line ends.
std::string withNewlines(std::string_view text, std::string_view newline);

// What the platform gives the program, made only once the options ask for a discovery.
struct TwinPlatform {
    std::function<EndpointParts()> endpointParts;
    // A timer that calls `onTimer` through the event loop.
    std::function<std::shared_ptr<TimerControl>(std::function<void()> onTimer)> timer;
    StartupSocketOption& startupOption;
};

// The command-line program from its arguments to its exit status.
int runTwin(int argc, const char* const* argv, const TwinConsole& console, const TwinPlatform& platform);

}  // namespace zorvik
