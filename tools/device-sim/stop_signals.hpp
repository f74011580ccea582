#pragma once

#include "unique_fd.hpp"

namespace zorvik::devicesim {

// SIGINT and SIGTERM, turned into a readable descriptor so the main loop can
// poll for them alongside its sockets and end cleanly with status 0.
class StopSignals {
public:
    StopSignals();

    int fd() const noexcept { return fd_.get(); }
    bool pending() const;  // without waiting

private:
    UniqueFd fd_;
};

}  // namespace zorvik::devicesim
