#pragma once

#include <unistd.h>

#include <utility>

namespace zorvik::devicesim {

// Sole owner of a file descriptor; closes it when dropped.
class UniqueFd {
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) noexcept : fd_(fd) {}
    UniqueFd(UniqueFd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept {
        if (this != &other) {
            reset();
            fd_ = std::exchange(other.fd_, -1);
        }
        return *this;
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    ~UniqueFd() { reset(); }

    int get() const noexcept { return fd_; }

    void reset() noexcept {
        // A failed close still releases the descriptor; there is nothing to retry.
        if (fd_ >= 0) static_cast<void>(::close(fd_));
        fd_ = -1;
    }

private:
    int fd_ = -1;
};

}  // namespace zorvik::devicesim
