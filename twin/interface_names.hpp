#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <unordered_map>
#include <utility>

namespace zorvik {

// The names of the interfaces answers came in on, each looked up once per run.
class InterfaceNames {
public:
    using Lookup = std::function<std::string(std::uint32_t index)>;  // empty when it has none

    explicit InterfaceNames(Lookup lookUp) : lookUp_(std::move(lookUp)) {}

    // The interface's name, untrusted text; empty for index 0 (not known).
    const std::string& of(std::uint32_t index);

private:
    Lookup lookUp_;
    std::unordered_map<std::uint32_t, std::string> names_;
};

}  // namespace zorvik
