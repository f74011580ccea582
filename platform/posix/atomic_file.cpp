#include "atomic_file.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "unique_fd.hpp"

namespace zorvik {
namespace {

constexpr mode_t kReadableByAll = 0644;

// Writes all of `contents`, then flushes it to disk and closes `file`; 0, or the errno of the call that failed.
int writeOut(UniqueFd& file, std::string_view contents, SystemCalls& calls) {
    while (!contents.empty()) {
        const ssize_t written = calls.write(file.get(), contents.data(), contents.size());
        if (written < 0) {
            if (errno == EINTR) continue;
            return errno;
        }
        contents.remove_prefix(static_cast<std::size_t>(written));
    }
    if (calls.fchmod(file.get(), kReadableByAll) != 0 || calls.fsync(file.get()) != 0) {
        return errno;
    }
    // A close may be where a network file system reports a failed write.
    return calls.close(file.release()) == 0 ? 0 : errno;
}

}  // namespace

std::optional<Failure> replaceFile(const std::string& path, std::string_view contents, SystemCalls& calls) {
    static unsigned made = 0;
    std::string temporary;
    UniqueFd file;
    // One left by an earlier program of the same number is not ours to reuse.
    for (int tries = 0; !file.valid(); ++tries) {
        temporary = path + ".tmp." + std::to_string(::getpid()) + '.' + std::to_string(made++);
        file = UniqueFd(calls.open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                                   kReadableByAll), calls);
        if (!file.valid() && (errno != EEXIST || tries == 100)) {
            return Failure::fromErrno(errno);
        }
    }
    int error = writeOut(file, contents, calls);
    if (error == 0 && calls.rename(temporary.c_str(), path.c_str()) != 0) {
        error = errno;
    }
    if (error != 0) {
        file.reset();
        static_cast<void>(calls.unlink(temporary.c_str()));  // what failed is the report; this is tidying up
        return Failure::fromErrno(error);
    }
    return std::nullopt;
}

std::optional<Failure> replaceFile(const std::string& path, std::string_view contents) {
    return replaceFile(path, contents, realSystemCalls());
}

}  // namespace zorvik
