#pragma once

// For libraries preloaded in front of the C library's receive calls.
#include <dlfcn.h>
#include <sys/socket.h>

namespace zorvik::preload {

// recvmmsg's time-out parameter, of the type the C library declares it with.
template <typename>
struct FifthParameter;
template <typename R, typename A, typename B, typename C, typename D, typename E>
struct FifthParameter<R(A, B, C, D, E)> {
    using type = E;
};
using ReceiveTimeout = FifthParameter<decltype(::recvmmsg)>::type;

// The C library's own function of that name, behind the preloaded one.
template <typename Function>
Function next(const char* name) {
    return reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
}

}  // namespace zorvik::preload
