# Test and benchmark helpers shared by tests/ and bench/.
include(GoogleTest)
include(${CMAKE_CURRENT_LIST_DIR}/TavrinPch.cmake)

# The program picks its language from the locale; whole-program tests that read its Chinese
# texts run in the C locale whatever the shell that started CTest uses (empty counts as unset).
# GoogleTest binaries never install a translation, so the locale does not reach them.
set(TAVRIN_TEST_LOCALE_ENV "LANG=C;LANGUAGE=;LC_ALL=;LC_MESSAGES=")

# Compile options for the test programs' own files, after the build type's: scripts/test.sh
# builds them with light optimisation (-O1 -g1), as the code under test keeps its own.
set(TAVRIN_TEST_COMPILE_OPTIONS "" CACHE STRING "Extra compile options for the test programs")
# scripts/test.sh runs the unit tests once, in its AddressSanitizer + UBSan tree, and leaves
# their programs out of its release tree.
option(TAVRIN_UNIT_TESTS "Build and register the unit test programs" ON)

# tavrin_add_gtest(NAME <target> LABEL <label> SOURCES ... LIBS ... [SERIAL] [QT_MAIN]
#                  [TIMEOUT s] [ENV VAR=value...])
# One GoogleTest binary; every TEST becomes a CTest entry carrying LABEL.
# QT_MAIN: the binary runs inside one QApplication (fonts, widgets, queued calls).
function(tavrin_add_gtest)
    cmake_parse_arguments(T "SERIAL;QT_MAIN" "NAME;LABEL;TIMEOUT" "SOURCES;LIBS;ENV" ${ARGN})
    if(T_QT_MAIN)
        add_executable(${T_NAME} ${T_SOURCES} ${PROJECT_SOURCE_DIR}/tests/support/qt_test_main.cpp)
        target_link_libraries(${T_NAME} PRIVATE Qt6::Widgets)
    else()
        add_executable(${T_NAME} ${T_SOURCES})
        target_link_libraries(${T_NAME} PRIVATE GTest::gtest_main)
    endif()
    target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} GTest::gtest Threads::Threads)
    target_include_directories(${T_NAME} PRIVATE ${PROJECT_SOURCE_DIR}/tests)
    target_compile_options(${T_NAME} PRIVATE ${TAVRIN_TEST_COMPILE_OPTIONS})
    if(T_QT_MAIN)
        tavrin_test_pch(${T_NAME} widgets)
    else()
        tavrin_test_pch(${T_NAME} gtest)
    endif()
    if(T_LABEL STREQUAL "unit" AND NOT TAVRIN_UNIT_TESTS)
        set_target_properties(${T_NAME} PROPERTIES EXCLUDE_FROM_ALL ON)
        return()
    endif()
    # tavrin_tests_<label> builds every program of one label: a sanitizer pass builds only those.
    if(NOT TARGET tavrin_tests_${T_LABEL})
        add_custom_target(tavrin_tests_${T_LABEL})
    endif()
    add_dependencies(tavrin_tests_${T_LABEL} ${T_NAME})
    if(NOT T_TIMEOUT)
        set(T_TIMEOUT 120)
    endif()
    # ENVIRONMENT is a list inside the PROPERTIES list: each of the three list expansions on its
    # way into the generated test file (here, gtest_discover_tests, GoogleTestAddTests) drops one
    # level of escaping, so its separators go in escaped three times over.
    set(env TAVRIN_SOURCE_DIR=${PROJECT_SOURCE_DIR} QT_QPA_PLATFORM=offscreen ${T_ENV})
    string(REPLACE ";" [[\\\\\\\\;]] env "${env}")
    set(props LABELS ${T_LABEL} TIMEOUT ${T_TIMEOUT} ENVIRONMENT "${env}")
    if(T_SERIAL)
        list(APPEND props RUN_SERIAL TRUE)
    endif()
    gtest_discover_tests(${T_NAME} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60
        PROPERTIES ${props})
endfunction()

# tavrin_add_bench(NAME <target> SOURCES ... LIBS ...)
# A Google Benchmark program, also run once briefly under CTest (label bench-smoke).
function(tavrin_add_bench)
    cmake_parse_arguments(B "" "NAME" "SOURCES;LIBS" ${ARGN})
    add_executable(${B_NAME} ${B_SOURCES})
    target_link_libraries(${B_NAME} PRIVATE ${B_LIBS} benchmark::benchmark benchmark::benchmark_main)
    add_test(NAME ${B_NAME}.smoke COMMAND ${B_NAME} --benchmark_min_time=0.01)
    set_tests_properties(${B_NAME}.smoke PROPERTIES LABELS bench-smoke TIMEOUT 300
        ENVIRONMENT "QT_QPA_PLATFORM=offscreen;TAVRIN_SOURCE_DIR=${PROJECT_SOURCE_DIR}")
endfunction()
