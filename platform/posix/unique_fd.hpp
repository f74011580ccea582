#pragma once

#include <utility>

#include "system_calls.hpp"

namespace zorvik {

// Owns one descriptor of any kind (a socket, an eventfd, a file); -1 means
// none. Move-only, closes through the seam on destruction.
class UniqueFd {
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd, SystemCalls& calls = realSystemCalls()) noexcept : calls_(&calls), fd_(fd) {}
    UniqueFd(UniqueFd&& other) noexcept : calls_(other.calls_), fd_(std::exchange(other.fd_, -1)) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept {
        if (this != &other) {
            reset();
            calls_ = other.calls_;
            fd_ = std::exchange(other.fd_, -1);
        }
        return *this;
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    ~UniqueFd() { reset(); }

    int get() const noexcept { return fd_; }
    bool valid() const noexcept { return fd_ >= 0; }
    // Gives the descriptor up unclosed, for a caller that must see its close's result.
    int release() noexcept { return std::exchange(fd_, -1); }

    void reset() noexcept {
        if (fd_ >= 0) {
            // A failed close still releases the descriptor; there is nothing to retry.
            static_cast<void>(calls_->close(fd_));
            fd_ = -1;
        }
    }

private:
    SystemCalls* calls_ = nullptr;
    int fd_ = -1;
};

}  // namespace zorvik
