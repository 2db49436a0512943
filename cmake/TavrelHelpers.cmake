# Helper functions for the project's targets.

# tavrel_add_library(NAME [STATIC|SHARED] SOURCES ... [DEPS ...] [PUBLIC_DEPS ...])
# A library whose public headers are included relative to the repository root
# ("platform/profile_file.h").
function(tavrel_add_library name)
    cmake_parse_arguments(ARG "STATIC;SHARED" "" "SOURCES;DEPS;PUBLIC_DEPS" ${ARGN})
    set(kind STATIC)
    if(ARG_SHARED)
        set(kind SHARED)
    endif()
    add_library(${name} ${kind} ${ARG_SOURCES})
    target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
    target_link_libraries(${name} PRIVATE ${ARG_DEPS} PUBLIC ${ARG_PUBLIC_DEPS})
    if(ARG_SHARED)
        set_target_properties(${name} PROPERTIES C_VISIBILITY_PRESET hidden
                              CXX_VISIBILITY_PRESET hidden VISIBILITY_INLINES_HIDDEN ON)
    endif()
endfunction()

# tavrel_add_test(NAME SOURCES ... [DEPS ...] [GUI] [NO_MAIN] [TIMEOUT s])
# A GoogleTest executable whose cases CTest runs one by one, named
# NAME.Suite.Case. GUI tests carry the label gui and are built only when
# TAVREL_GUI_TESTS is on.
function(tavrel_add_test name)
    cmake_parse_arguments(ARG "GUI;NO_MAIN" "TIMEOUT" "SOURCES;DEPS" ${ARGN})
    if(ARG_GUI AND NOT TAVREL_GUI_TESTS)
        return()
    endif()
    add_executable(${name} ${ARG_SOURCES})
    set_property(GLOBAL APPEND PROPERTY TAVREL_TEST_TARGETS ${name})
    target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR})
    if(ARG_NO_MAIN)
        target_link_libraries(${name} PRIVATE ${ARG_DEPS} GTest::gtest GTest::gmock)
    else()
        target_link_libraries(${name} PRIVATE ${ARG_DEPS} GTest::gtest GTest::gmock
                              GTest::gtest_main)
    endif()
    # Discovered tests get their properties through a generated script that
    # splits every list, so each property carries exactly one value: one label
    # (gui or unit) and one variable. GUI test programs choose the offscreen Qt
    # platform in their own main() when QT_QPA_PLATFORM is unset.
    set(label unit)
    if(ARG_GUI)
        set(label gui)
    endif()
    if(NOT ARG_TIMEOUT)
        set(ARG_TIMEOUT 300)
    endif()
    gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60
                         TEST_PREFIX "${name}."
                         PROPERTIES LABELS ${label}
                                    ENVIRONMENT "TAVREL_BIN_DIR=${CMAKE_BINARY_DIR}/bin"
                         TIMEOUT ${ARG_TIMEOUT})
endfunction()

# tavrel_add_fuzzer(NAME SOURCES ... [DEPS ...] [SMOKE_SECONDS n])
# A libFuzzer target, built only with TAVREL_FUZZ (clang). CTest runs it for a
# short smoke time; longer runs are documented in the README.
function(tavrel_add_fuzzer name)
    cmake_parse_arguments(ARG "" "SMOKE_SECONDS" "SOURCES;DEPS" ${ARGN})
    if(NOT TAVREL_FUZZ)
        return()
    endif()
    if(NOT ARG_SMOKE_SECONDS)
        set(ARG_SMOKE_SECONDS 20)
    endif()
    add_executable(${name} ${ARG_SOURCES})
    target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR})
    target_compile_options(${name} PRIVATE -fsanitize=fuzzer)
    target_link_options(${name} PRIVATE -fsanitize=fuzzer)
    target_link_libraries(${name} PRIVATE ${ARG_DEPS})
    add_test(NAME ${name}.smoke
             COMMAND ${name} -max_total_time=${ARG_SMOKE_SECONDS} -rss_limit_mb=2048
                     -timeout=10)
    set_tests_properties(${name}.smoke PROPERTIES LABELS fuzz
                         TIMEOUT 300)
endfunction()

# tavrel_add_benchmark(NAME SOURCES ... [DEPS ...])
# A Google Benchmark program; not run by CTest (machines here are noisy).
function(tavrel_add_benchmark name)
    cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
    if(NOT TAVREL_BENCH)
        return()
    endif()
    find_package(benchmark REQUIRED)
    add_executable(${name} ${ARG_SOURCES})
    target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR})
    target_link_libraries(${name} PRIVATE ${ARG_DEPS} benchmark::benchmark)
endfunction()
