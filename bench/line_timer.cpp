// zorvik-bench-lines N -- COMMAND...: runs a program that prints one line per
// answer, and measures it from outside: lines, the time from its first line to
// its last, and its peak memory.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "measure.hpp"

int main(int argc, char** argv) {
    using namespace zorvik;
    if (argc < 4 || std::strcmp(argv[2], "--") != 0) {
        std::fprintf(stderr, "usage: zorvik-bench-lines N -- COMMAND...\n");
        return 2;
    }
    const long expected = std::atol(argv[1]);
    int out[2];
    if (pipe(out) != 0) {
        return 1;
    }
    const pid_t child = fork();
    if (child == 0) {
        dup2(out[1], STDOUT_FILENO);
        close(out[0]);
        close(out[1]);
        execvp(argv[3], argv + 3);
        _exit(127);
    }
    close(out[1]);

    std::FILE* lines = fdopen(out[0], "r");
    char* line = nullptr;
    size_t capacity = 0;
    long count = 0;
    bench::Clock::time_point first{};
    bench::Clock::time_point last{};
    while (getline(&line, &capacity, lines) > 0) {
        last = bench::Clock::now();
        if (count++ == 0) {
            first = last;
        }
    }
    std::free(line);
    int status = 0;
    rusage usage{};
    wait4(child, &status, 0, &usage);
    bench::report("listed=" + std::to_string(count) + " lost=" + std::to_string(expected - count) +
                  " ms=" + std::to_string(bench::millisecondsBetween(first, last)) +
                  " peak_kib=" + std::to_string(usage.ru_maxrss) +
                  " cpu_ms=" + std::to_string(bench::cpuMilliseconds(usage)) +
                  " status=" + std::to_string(WIFEXITED(status) ? WEXITSTATUS(status) : -1));
    return 0;
}
