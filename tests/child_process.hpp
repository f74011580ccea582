#pragma once

#include <sys/types.h>
#include <unistd.h>

#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace zorvik::testing {

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
    bool valid() const noexcept { return fd_ >= 0; }

    void reset() noexcept {
        // A failed close still releases the descriptor; there is nothing to retry.
        if (fd_ >= 0) static_cast<void>(::close(fd_));
        fd_ = -1;
    }

private:
    int fd_ = -1;
};

// Where ctest put the built programs: $ZORVIK_BIN. Throws if it is not set.
std::string binDir();

// A program run by a test, its stdout and stderr captured through pipes and its
// stdin empty. Every wait is bounded. A child still running when this is dropped
// is killed and reaped.
class ChildProcess {
public:
    using Clock = std::chrono::steady_clock;

    // `program` is a path, or a name looked up on PATH. `extraEnv` entries
    // ("NAME=value") are added to this process's environment, replacing same names.
    ChildProcess(const std::string& program, const std::vector<std::string>& args,
                 const std::vector<std::string>& extraEnv = {});
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;
    ~ChildProcess();

    // The first stdout line starting with `prefix`, once there is one; nullopt if
    // stdout ends or `timeout` passes first.
    std::optional<std::string> waitForLine(std::string_view prefix, Clock::duration timeout);

    // The exit status, or 128 + the signal number if a signal ended it. If the
    // child is still running after `timeout`, kills it and throws.
    int wait(Clock::duration timeout);

    // Asks the child to end (SIGTERM); wait() then collects its status.
    void terminate();

    // What the child has written so far (all of it, after wait()).
    const std::string& out() const noexcept { return out_; }
    const std::string& err() const noexcept { return err_; }

private:
    // Takes in whatever output is there, waiting until `deadline` for something
    // to happen (output, end of output, or the child's exit). False on timeout.
    bool pump(Clock::time_point deadline);
    std::optional<std::string> findLine(std::string_view prefix) const;
    int reap();

    std::string program_;
    pid_t pid_ = -1;
    UniqueFd exitFd_;  // a pidfd: readable once the child has exited
    UniqueFd outFd_;
    UniqueFd errFd_;
    std::string out_;
    std::string err_;
    bool exited_ = false;
    std::optional<int> status_;
};

}  // namespace zorvik::testing
