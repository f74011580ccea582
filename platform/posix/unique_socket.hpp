#pragma once

#include <utility>

#include "system_calls.hpp"

namespace zorvik {

// Owns one socket descriptor; -1 means none. Move-only, closes on destruction.
class UniqueSocket {
public:
    UniqueSocket() = default;
    UniqueSocket(SystemCalls& calls, int fd) noexcept : calls_(&calls), fd_(fd) {}
    UniqueSocket(UniqueSocket&& other) noexcept
        : calls_(other.calls_), fd_(std::exchange(other.fd_, -1)) {}
    UniqueSocket& operator=(UniqueSocket&& other) noexcept {
        if (this != &other) {
            reset();
            calls_ = other.calls_;
            fd_ = std::exchange(other.fd_, -1);
        }
        return *this;
    }
    UniqueSocket(const UniqueSocket&) = delete;
    UniqueSocket& operator=(const UniqueSocket&) = delete;
    ~UniqueSocket() { reset(); }

    int get() const noexcept { return fd_; }
    bool valid() const noexcept { return fd_ >= 0; }

    void reset() noexcept {
        if (fd_ >= 0) {
            // Nothing useful can be done about a failed close of a datagram socket.
            static_cast<void>(calls_->close(fd_));
            fd_ = -1;
        }
    }

private:
    SystemCalls* calls_ = nullptr;
    int fd_ = -1;
};

}  // namespace zorvik
