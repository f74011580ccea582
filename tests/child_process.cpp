#include "child_process.hpp"

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <stdexcept>
#include <system_error>

extern char** environ;

namespace zorvik::testing {
namespace {

[[noreturn]] void throwErrno(const std::string& what) {
    throw std::system_error(errno, std::generic_category(), what);
}

// For the posix_spawn family, which returns the error number instead of setting errno.
void check(int error, const char* what) {
    if (error != 0) throw std::system_error(error, std::generic_category(), what);
}

struct Pipe {
    UniqueFd read;
    UniqueFd write;
};

Pipe makePipe() {
    std::array<int, 2> ends{};
    if (::pipe2(ends.data(), O_CLOEXEC) != 0) throwErrno("pipe2");
    Pipe pipe{UniqueFd(ends[0]), UniqueFd(ends[1])};
    // Only this side's end is non-blocking; the child writes as it normally would.
    const int flags = ::fcntl(pipe.read.get(), F_GETFL);
    if (flags < 0 || ::fcntl(pipe.read.get(), F_SETFL, flags | O_NONBLOCK) != 0) throwErrno("fcntl");
    return pipe;
}

class FileActions {
public:
    FileActions() { check(posix_spawn_file_actions_init(&value), "posix_spawn_file_actions_init"); }
    FileActions(const FileActions&) = delete;
    FileActions& operator=(const FileActions&) = delete;
    ~FileActions() { static_cast<void>(posix_spawn_file_actions_destroy(&value)); }
    posix_spawn_file_actions_t value;
};

class SpawnAttributes {
public:
    SpawnAttributes() { check(posix_spawnattr_init(&value), "posix_spawnattr_init"); }
    SpawnAttributes(const SpawnAttributes&) = delete;
    SpawnAttributes& operator=(const SpawnAttributes&) = delete;
    ~SpawnAttributes() { static_cast<void>(posix_spawnattr_destroy(&value)); }
    posix_spawnattr_t value;
};

std::string nameOf(const std::string& entry) {
    return entry.substr(0, entry.find('='));
}

std::vector<std::string> environmentWith(const std::vector<std::string>& extra) {
    std::vector<std::string> result;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string current = *entry;
        const bool replaced = std::any_of(extra.begin(), extra.end(), [&](const std::string& e) {
            return nameOf(e) == nameOf(current);
        });
        if (!replaced) result.push_back(current);
    }
    result.insert(result.end(), extra.begin(), extra.end());
    return result;
}

std::vector<char*> pointersTo(std::vector<std::string>& strings) {
    std::vector<char*> result;
    for (std::string& s : strings)
        result.push_back(s.data());
    result.push_back(nullptr);
    return result;
}

// Appends what `fd` holds to `into`, and closes `fd` at the end of the output.
void drain(UniqueFd& fd, std::string& into) {
    std::array<char, 4096> buffer{};
    for (;;) {
        const ssize_t count = ::read(fd.get(), buffer.data(), buffer.size());
        if (count > 0) {
            into.append(buffer.data(), static_cast<std::size_t>(count));
        } else if (count == 0) {
            fd.reset();
            return;
        } else if (errno == EAGAIN || errno == EWOULDBLOCK) {
            return;
        } else if (errno != EINTR) {
            throwErrno("read child output");
        }
    }
}

}  // namespace

std::string binDir() {
    const char* dir = std::getenv("ZORVIK_BIN");
    if (dir == nullptr || *dir == '\0') {
        throw std::runtime_error(
            "ZORVIK_BIN is not set: run the tests with ctest, or set it to build/bin");
    }
    return dir;
}

ChildProcess::ChildProcess(const std::string& program, const std::vector<std::string>& args,
                           const std::vector<std::string>& extraEnv)
    : program_(program) {
    Pipe out = makePipe();
    Pipe err = makePipe();
    FileActions actions;
    check(posix_spawn_file_actions_addopen(&actions.value, STDIN_FILENO, "/dev/null", O_RDONLY, 0),
          "redirect stdin");
    check(posix_spawn_file_actions_adddup2(&actions.value, out.write.get(), STDOUT_FILENO),
          "redirect stdout");
    check(posix_spawn_file_actions_adddup2(&actions.value, err.write.get(), STDERR_FILENO),
          "redirect stderr");

    // The child starts with ordinary signal handling, whatever this process changed.
    SpawnAttributes attributes;
    sigset_t none;
    sigset_t standard;
    if (sigemptyset(&none) != 0 || sigemptyset(&standard) != 0 || sigaddset(&standard, SIGINT) != 0 ||
        sigaddset(&standard, SIGTERM) != 0 || sigaddset(&standard, SIGPIPE) != 0) {
        throwErrno("signal set");
    }
    check(posix_spawnattr_setsigmask(&attributes.value, &none), "posix_spawnattr_setsigmask");
    check(posix_spawnattr_setsigdefault(&attributes.value, &standard), "posix_spawnattr_setsigdefault");
    check(posix_spawnattr_setflags(&attributes.value, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF),
          "posix_spawnattr_setflags");

    std::vector<std::string> argv{program};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<std::string> env = environmentWith(extraEnv);
    const std::vector<char*> argvPointers = pointersTo(argv);
    const std::vector<char*> envPointers = pointersTo(env);
    const int error = posix_spawnp(&pid_, program.c_str(), &actions.value, &attributes.value,
                                   argvPointers.data(), envPointers.data());
    if (error != 0) throw std::system_error(error, std::generic_category(), "start " + program);

    // Called directly: glibc 2.36's <sys/pidfd.h> lacks C linkage for C++.
    exitFd_ = UniqueFd(static_cast<int>(::syscall(SYS_pidfd_open, pid_, 0)));
    if (!exitFd_.valid()) {
        const int openError = errno;
        static_cast<void>(::kill(pid_, SIGKILL));  // without a pidfd it cannot be waited for
        static_cast<void>(reap());
        throw std::system_error(openError, std::generic_category(), "pidfd_open");
    }
    outFd_ = std::move(out.read);
    errFd_ = std::move(err.read);
}  // The write ends close here, so only the child holds them.

ChildProcess::~ChildProcess() {
    if (status_) return;
    // Killing and reaping our own unreaped child cannot fail; there is no one to tell.
    static_cast<void>(::kill(pid_, SIGKILL));
    int raw = 0;
    while (::waitpid(pid_, &raw, 0) < 0 && errno == EINTR) {
    }
}

std::optional<std::string> ChildProcess::waitForLine(std::string_view prefix, Clock::duration timeout) {
    const auto deadline = Clock::now() + timeout;
    for (;;) {
        if (auto line = findLine(prefix)) return line;
        if (!outFd_.valid() || !pump(deadline)) return std::nullopt;
    }
}

int ChildProcess::wait(Clock::duration timeout) {
    if (status_) return *status_;
    const auto deadline = Clock::now() + timeout;
    while (!exited_) {
        if (!pump(deadline)) {
            static_cast<void>(::kill(pid_, SIGKILL));
            static_cast<void>(reap());
            throw std::runtime_error(
                program_ + " did not exit within " +
                std::to_string(std::chrono::duration_cast<std::chrono::milliseconds>(timeout).count()) +
                " ms and was killed; its stderr: " + err_);
        }
    }
    // All it wrote is in the pipes now; a descendant still holding them open
    // must not keep this waiting.
    while ((outFd_.valid() || errFd_.valid()) && pump(Clock::now())) {
    }
    return reap();
}

void ChildProcess::terminate() {
    if (status_) return;
    if (::kill(pid_, SIGTERM) != 0) throwErrno("kill " + program_);
}

bool ChildProcess::pump(Clock::time_point deadline) {
    // poll skips negative descriptors: closed pipes, and the pidfd once it fired.
    std::array<pollfd, 3> watched{{{outFd_.get(), POLLIN, 0},
                                   {errFd_.get(), POLLIN, 0},
                                   {exited_ ? -1 : exitFd_.get(), POLLIN, 0}}};
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
    const int ready =
        ::poll(watched.data(), watched.size(), static_cast<int>(std::max<decltype(left)>(left, 0)));
    if (ready < 0) {
        if (errno == EINTR) return true;
        throwErrno("poll child");
    }
    if (ready == 0) return false;
    if (watched[0].revents != 0) drain(outFd_, out_);
    if (watched[1].revents != 0) drain(errFd_, err_);
    if (watched[2].revents != 0) exited_ = true;
    return true;
}

std::optional<std::string> ChildProcess::findLine(std::string_view prefix) const {
    std::size_t start = 0;
    for (std::size_t end; (end = out_.find('\n', start)) != std::string::npos; start = end + 1) {
        const std::string_view line = std::string_view(out_).substr(start, end - start);
        if (line.starts_with(prefix)) return std::string(line);
    }
    return std::nullopt;
}

int ChildProcess::reap() {
    int raw = 0;
    while (::waitpid(pid_, &raw, 0) < 0) {
        if (errno != EINTR) throwErrno("waitpid " + program_);
    }
    exited_ = true;
    status_ = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
    return *status_;
}

}  // namespace zorvik::testing
