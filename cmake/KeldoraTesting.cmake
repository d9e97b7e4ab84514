# GoogleTest from the source that Debian's googletest package installs, built
# with the same compiler and flags as the code under test.
set(KELDORA_GTEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest source tree")
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
add_subdirectory(${KELDORA_GTEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
include(GoogleTest)

# Under Wine each test takes one of the lanes (a prefix of its own) that
# cmake/wine-run.sh hands out when KELDORA_WINE_LANES is set, and its watchdog
# reports it a little before CTest's own timeout would end it silently.
set(KELDORA_WATCHDOG_MARGIN 20)

# keldora_wine_test_properties(TIMEOUT seconds TESTS name...)
function(keldora_wine_test_properties)
    cmake_parse_arguments(W "" "TIMEOUT" "TESTS" ${ARGN})
    math(EXPR watchdog "${W_TIMEOUT} - ${KELDORA_WATCHDOG_MARGIN}")
    set_tests_properties(${W_TESTS} PROPERTIES TIMEOUT ${W_TIMEOUT})
    set_property(TEST ${W_TESTS} APPEND PROPERTY ENVIRONMENT "KELDORA_WATCHDOG_SECONDS=${watchdog}")
endfunction()

# keldora_add_test(NAME name SOURCES ... LIBS ...)
# One test program per folder; each test case becomes a CTest entry. Under Wine
# the first discovery may have to create the prefix, hence the long timeout.
function(keldora_add_test)
    cmake_parse_arguments(T "" "NAME" "SOURCES;LIBS" ${ARGN})
    add_executable(${T_NAME} ${T_SOURCES})
    target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} GTest::gtest_main)
    set(properties TIMEOUT 300 SKIP_REGULAR_EXPRESSION "\\[  SKIPPED \\]")
    if(KELDORA_WINDOWS)
        # The Wine tests' own code is not optimised: it mostly waits, and
        # optimising it took most of the build. The code under test keeps its
        # flags, and so do the native tests, whose own code does real work.
        target_compile_options(${T_NAME} PRIVATE -O0)
        # Unoptimised, a test's unit spends most of its time reading these
        # headers; the Windows-only programs also share the system's. Every
        # test program has the same flags, so the first of each kind compiles
        # them once for all of its kind.
        set(pch <gtest/gtest.h> <string> <vector> <functional>)
        set(kind platform_free)
        if("wine_test_support" IN_LIST T_LIBS)
            list(PREPEND pch <windows.h>)
            set(kind windows)
        endif()
        get_property(owner GLOBAL PROPERTY KELDORA_TEST_PCH_${kind})
        if(owner)
            target_precompile_headers(${T_NAME} REUSE_FROM ${owner})
        else()
            target_precompile_headers(${T_NAME} PRIVATE ${pch})
            set_property(GLOBAL PROPERTY KELDORA_TEST_PCH_${kind} ${T_NAME})
        endif()
        math(EXPR watchdog "300 - ${KELDORA_WATCHDOG_MARGIN}")
        list(APPEND properties ENVIRONMENT "KELDORA_WATCHDOG_SECONDS=${watchdog}")
    endif()
    gtest_discover_tests(${T_NAME} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 300 PROPERTIES ${properties})
endfunction()

# keldora_add_fuzz(NAME name SOURCES ... LIBS ...)
function(keldora_add_fuzz)
    cmake_parse_arguments(F "" "NAME" "SOURCES;LIBS" ${ARGN})
    add_executable(${F_NAME} ${F_SOURCES})
    target_compile_options(${F_NAME} PRIVATE -fsanitize=fuzzer)
    target_link_options(${F_NAME} PRIVATE -fsanitize=fuzzer)
    target_link_libraries(${F_NAME} PRIVATE ${F_LIBS})
endfunction()

# keldora_fuzz_coverage(target...): libraries whose depths a fuzz target is
# after are instrumented for coverage too, or libFuzzer sees only the target's
# own file. The sanitizers' runtime answers the hooks in the other programs.
function(keldora_fuzz_coverage)
    if(NOT KELDORA_WINDOWS AND KELDORA_FUZZ AND KELDORA_SANITIZE AND CMAKE_CXX_COMPILER_ID MATCHES "Clang")
        foreach(target ${ARGN})
            target_compile_options(${target} PRIVATE -fsanitize=fuzzer-no-link)
        endforeach()
    endif()
endfunction()
