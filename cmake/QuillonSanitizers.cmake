# Instrumented builds with clang's sanitizers and libFuzzer (scripts/run-tests.sh makes them).
#
#   -DQUILLON_SANITIZERS=thread              ThreadSanitizer
#   -DQUILLON_SANITIZERS="address;undefined" AddressSanitizer and UndefinedBehaviorSanitizer
#   -DQUILLON_FUZZ=ON                        adds libFuzzer's coverage and builds tests/fuzz
#
# Everything compiled here is instrumented, the framework's modules included; the prebuilt system
# libraries are not. The first report stops the program, so a test that meets one fails.

include_guard(GLOBAL)

set(QUILLON_SANITIZERS "" CACHE STRING "Sanitizers to build with: thread, or address;undefined (clang only)")
option(QUILLON_FUZZ "Build the fuzz targets (clang only)" OFF)

if(QUILLON_SANITIZERS OR QUILLON_FUZZ)
    if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang" OR NOT CMAKE_C_COMPILER_ID STREQUAL "Clang")
        message(FATAL_ERROR "Sanitizer and fuzz builds need clang: -DCMAKE_C_COMPILER=clang-14 -DCMAKE_CXX_COMPILER=clang++-14")
    endif()

    set(quillon_instrumentation ${QUILLON_SANITIZERS})
    if(QUILLON_FUZZ)
        list(APPEND quillon_instrumentation fuzzer-no-link)
    endif()
    list(REMOVE_DUPLICATES quillon_instrumentation)
    list(JOIN quillon_instrumentation "," quillon_instrumentation)

    add_compile_options(-fsanitize=${quillon_instrumentation} -fno-sanitize-recover=all
        -fno-omit-frame-pointer -g)
    add_link_options(-fsanitize=${quillon_instrumentation})

    # The framework shifts negative samples left, which C++20 defines and every compiler does as
    # expected; that one check stays on for our own code only.
    if("undefined" IN_LIST QUILLON_SANITIZERS)
        set(QUILLON_FRAMEWORK_SANITIZER_OPTIONS -fno-sanitize=shift-base)
    endif()

    # Tests that cannot run under a sanitizer (an address-space limit, say) skip themselves when
    # this names one.
    if(QUILLON_SANITIZERS)
        list(JOIN QUILLON_SANITIZERS "," quillon_sanitizer_names)
        add_compile_definitions(QUILLON_SANITIZERS="${quillon_sanitizer_names}")
    endif()
endif()
