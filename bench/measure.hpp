#pragma once

#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>

// What every benchmark program measures and how it reports: one line of
// key=value pairs on standard output, read by bench/burst.
namespace zorvik::bench {

using Clock = std::chrono::steady_clock;

inline double millisecondsBetween(Clock::time_point from, Clock::time_point to) {
    return std::chrono::duration<double, std::milli>(to - from).count();
}

// Resident memory now, in KiB.
inline long residentKiB() {
    long pages = 0;
    long resident = 0;
    std::ifstream("/proc/self/statm") >> pages >> resident;
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

// The most resident memory this process has had, in KiB.
inline long peakResidentKiB() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

// User and system time in `usage`, in milliseconds.
inline double cpuMilliseconds(const rusage& usage) {
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1000.0 +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1000.0;
}

// The receive buffer the kernel granted a socket, in bytes (twice what was asked).
inline int grantedReceiveBuffer(int fd) {
    int bytes = 0;
    socklen_t length = sizeof bytes;
    getsockopt(fd, SOL_SOCKET, SO_RCVBUF, &bytes, &length);
    return bytes;
}

inline void report(const std::string& pairs) {
    std::printf("%s\n", pairs.c_str());
    std::fflush(stdout);
}

}  // namespace zorvik::bench
