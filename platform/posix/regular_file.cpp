#include "regular_file.hpp"

#include <fcntl.h>

#include <algorithm>
#include <cerrno>

#include "failure.hpp"
#include "unique_fd.hpp"

namespace zorvik {
namespace {

FileRead failed(int error) {
    return {{}, error, "error " + std::to_string(error) + ": " + Failure::fromErrno(error).description()};
}

// Why a file of this kind is not read, or nothing if it is a regular file.
std::string refusal(const struct stat& status) {
    switch (status.st_mode & S_IFMT) {
    case S_IFREG:
        return {};
    case S_IFDIR:
        return "it is a folder, not a regular file";
    case S_IFIFO:
        return "it is a FIFO, not a regular file";
    case S_IFCHR:
    case S_IFBLK:
        return "it is a device, not a regular file";
    default:
        return "it is not a regular file";
    }
}

}  // namespace

FileRead readRegularFile(const std::string& path, std::size_t maxBytes, SystemCalls& calls) {
    const auto tooLarge = [&] { return FileRead{{}, 0, "it is larger than " + std::to_string(maxBytes) + " bytes"}; };
    // Not even opened unless it looks like a regular file: opening a device may act on it.
    struct stat status{};
    if (calls.stat(path.c_str(), &status) != 0) {
        return failed(errno);
    }
    if (std::string why = refusal(status); !why.empty()) {
        return {{}, 0, std::move(why)};
    }
    // Without blocking, should it have been swapped for a FIFO meanwhile.
    const UniqueFd file(calls.open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0), calls);
    if (file.get() < 0) {
        return failed(errno);
    }
    if (calls.fstat(file.get(), &status) != 0) {
        return failed(errno);
    }
    if (std::string why = refusal(status); !why.empty()) {
        return {{}, 0, std::move(why)};
    }
    if (static_cast<unsigned long long>(status.st_size) > maxBytes) {
        return tooLarge();
    }
    // Read up to one byte past the bound: that tells a file that grew, or has no
    // size (as in /proc), from one that fits.
    std::string text(std::min<std::size_t>(static_cast<std::size_t>(status.st_size), maxBytes) + 1, '\0');
    std::size_t got = 0;
    for (;;) {
        if (got == text.size()) {
            if (got > maxBytes) return tooLarge();
            text.resize(std::min(maxBytes + 1, got * 2));
        }
        const ssize_t count = calls.read(file.get(), text.data() + got, text.size() - got);
        if (count == 0) {
            break;
        }
        if (count < 0) {
            if (errno == EINTR) continue;
            return failed(errno);
        }
        got += static_cast<std::size_t>(count);
    }
    text.resize(got);
    return {std::move(text), 0, {}};
}

}  // namespace zorvik
