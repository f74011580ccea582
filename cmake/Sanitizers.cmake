# ZORVIK_SANITIZE="address,undefined" (or any -fsanitize= list) instruments
# everything built here, tests included. Any report ends the program: a fault
# must fail the test that met it, not scroll past in its output.
set(ZORVIK_SANITIZE "" CACHE STRING "Sanitizers for -fsanitize=, e.g. address,undefined; empty for none")

if(ZORVIK_SANITIZE)
    add_compile_options(-fsanitize=${ZORVIK_SANITIZE} -fno-omit-frame-pointer -fno-sanitize-recover=all)
    add_link_options(-fsanitize=${ZORVIK_SANITIZE})
endif()
