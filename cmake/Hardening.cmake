# Hardened release programs: position-independent executables, read-only
# relocations bound at start-up, stack canaries and checked libc calls.
# tests/hardening_check reads the result back from the built programs.
include(CheckPIESupported)
check_pie_supported(LANGUAGES CXX)
set(CMAKE_POSITION_INDEPENDENT_CODE ON)

# The sanitizers bring their own checks, and their interceptors do not mix
# with glibc's fortified calls; only optimized builds are hardened.
if(ZORVIK_SANITIZE OR WIN32)
    # Windows programs are hardened by the linker's defaults (ASLR, DEP).
    set(ZORVIK_HARDENED OFF)
else()
    set(ZORVIK_HARDENED ON)
endif()
set(zorvik_optimized $<CONFIG:Release,RelWithDebInfo,MinSizeRel>)
if(ZORVIK_HARDENED)
    # Some toolchains predefine a lower level; redefining it would warn, and
    # -Werror makes that fatal. FORTIFY needs optimization: without it glibc warns.
    add_compile_options(
        "$<${zorvik_optimized}:-fstack-protector-strong;-U_FORTIFY_SOURCE;-D_FORTIFY_SOURCE=3>")
    add_link_options("$<${zorvik_optimized}:LINKER:-z,relro,-z,now>")
endif()

# Whether this build makes hardened programs, for the tests that check them.
if(ZORVIK_HARDENED AND CMAKE_BUILD_TYPE MATCHES "^(Release|RelWithDebInfo|MinSizeRel)$")
    set(ZORVIK_HARDENED_PROGRAMS ON)
else()
    set(ZORVIK_HARDENED_PROGRAMS OFF)
endif()
