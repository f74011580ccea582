#pragma once

#include <stdexcept>
#include <string>

namespace zorvik {

// The one failure type: an error number and its description. Handlers never
// catch it; the event dispatch reports it and ends the program.
class Failure : public std::runtime_error {
public:
    Failure(int number, const std::string& description)
        : std::runtime_error(description), number_(number) {}

    // A failed system call, described by the system's own text for errnum.
    static Failure fromErrno(int errnum);

    int number() const noexcept { return number_; }
    std::string description() const { return what(); }

private:
    int number_;
};

}  // namespace zorvik
