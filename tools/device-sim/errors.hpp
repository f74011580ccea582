#pragma once

#include <cerrno>
#include <stdexcept>
#include <string>
#include <system_error>

namespace zorvik::devicesim {

// A bad option or value: reported with the usage text, exit status 2.
class UsageError : public std::runtime_error {
    using std::runtime_error::runtime_error;
};

// A request the simulator declines for the network's safety: exit status 2.
class Refusal : public std::runtime_error {
    using std::runtime_error::runtime_error;
};

// A failed system call, described by `what` and the system's text for errno.
[[noreturn]] inline void throwErrno(const std::string& what) {
    throw std::system_error(errno, std::generic_category(), what);
}

}  // namespace zorvik::devicesim
