# Tests are Windows programs run under Wine: CTest starts each through
# scripts/wine-run, in the Wine session of the ctest run (a prefix copy, a
# wineserver and a virtual display of its own, under the state folder).
set(HV_WINE_STATE "${CMAKE_BINARY_DIR}/wine" CACHE PATH "Wine prefix and display state of the tests")
set(CMAKE_CROSSCOMPILING_EMULATOR "${CMAKE_SOURCE_DIR}/scripts/wine-run;${HV_WINE_STATE}")

# The host's locale decides the user's language inside Wine; tests see
# English unless a test appends its own LC_ALL/LANG to ENVIRONMENT (the
# later entry wins).
set(HV_TEST_LOCALE "C.UTF-8" CACHE STRING "LC_ALL and LANG of the tests")
set(HV_TEST_ENVIRONMENT
    "LC_ALL=${HV_TEST_LOCALE}" "LANG=${HV_TEST_LOCALE}" "LANGUAGE="
    "HV_TEST_BINARY_DIR=${CMAKE_BINARY_DIR}" "HV_TEST_SOURCE_DIR=${CMAKE_SOURCE_DIR}")

function(hv_add_wine_session_fixture)
    add_test(NAME wine.session.start
             COMMAND ${CMAKE_SOURCE_DIR}/scripts/wine-session start ${HV_WINE_STATE})
    add_test(NAME wine.session.stop
             COMMAND ${CMAKE_SOURCE_DIR}/scripts/wine-session stop ${HV_WINE_STATE})
    set_tests_properties(wine.session.start PROPERTIES FIXTURES_SETUP wine_session TIMEOUT 300
                         ENVIRONMENT "${HV_TEST_ENVIRONMENT}")
    set_tests_properties(wine.session.stop PROPERTIES FIXTURES_CLEANUP wine_session TIMEOUT 120
                         ENVIRONMENT "${HV_TEST_ENVIRONMENT}")
endfunction()

# hv_wine_test_properties(TEST [TIMEOUT s])
# What every test under Wine needs: the run's session, a timeout and the
# pinned environment. For tests added with add_test rather than hv_add_test.
function(hv_wine_test_properties name)
    cmake_parse_arguments(arg "" "TIMEOUT" "" ${ARGN})
    if(NOT arg_TIMEOUT)
        set(arg_TIMEOUT 300)
    endif()
    set_tests_properties(${name} PROPERTIES
        FIXTURES_REQUIRED wine_session
        TIMEOUT ${arg_TIMEOUT}
        ENVIRONMENT "${HV_TEST_ENVIRONMENT}")
endfunction()

# hv_add_test(NAME SOURCES src... [LIBS lib...] [TIMEOUT s])
# One test executable, linked with GoogleTest, registered as one CTest test
# that needs the Wine session.
function(hv_add_test name)
    cmake_parse_arguments(arg "" "TIMEOUT" "SOURCES;LIBS" ${ARGN})
    set(target test_${name})
    string(REPLACE "." "_" target ${target})
    add_executable(${target} ${arg_SOURCES})
    target_link_libraries(${target} PRIVATE hv_settings ${arg_LIBS} GTest::gmock GTest::gtest_main)
    add_test(NAME ${name} COMMAND ${target} --gtest_brief=1)
    hv_wine_test_properties(${name} TIMEOUT ${arg_TIMEOUT})
endfunction()

# hv_add_unprivileged_test(NAME TARGET)
# The test program of TARGET run once more as an unprivileged Unix user, in a
# prefix of its own (scripts/wine-unprivileged): there a read-only file
# refuses to be opened for writing as on Windows, where root writes through.
# Skipped when the tests do not run as root.
function(hv_add_unprivileged_test name target)
    add_test(NAME ${name}
             COMMAND ${CMAKE_SOURCE_DIR}/scripts/wine-unprivileged ${CMAKE_CURRENT_BINARY_DIR}/${name}-work
                     $<TARGET_FILE:${target}> --gtest_brief=1)
    set_tests_properties(${name} PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 300 ENVIRONMENT "${HV_TEST_ENVIRONMENT}")
endfunction()
