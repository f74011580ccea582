#include "failure.hpp"

#include <cstring>

namespace zorvik {

Failure Failure::fromErrno(int errnum) { return Failure(errnum, std::strerror(errnum)); }

}  // namespace zorvik
