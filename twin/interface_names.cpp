#include "interface_names.hpp"

namespace zorvik {

const std::string& InterfaceNames::of(std::uint32_t index) {
    // The system numbers its interfaces, not the sender: the table stays small.
    auto found = names_.find(index);
    if (found == names_.end()) found = names_.emplace(index, index == 0 ? std::string() : lookUp_(index)).first;
    return found->second;
}

}  // namespace zorvik
