# Tests are Windows programs run under Wine: CTest starts each through
# scripts/wine-run, in a prefix and on a virtual display of the build tree.
set(HV_WINE_STATE "${CMAKE_BINARY_DIR}/wine" CACHE PATH "Wine prefix and display state of the tests")
set(CMAKE_CROSSCOMPILING_EMULATOR "${CMAKE_SOURCE_DIR}/scripts/wine-run;${HV_WINE_STATE}")

function(hv_add_wine_session_fixture)
    add_test(NAME wine.session.start
             COMMAND ${CMAKE_SOURCE_DIR}/scripts/wine-session start ${HV_WINE_STATE})
    add_test(NAME wine.session.stop
             COMMAND ${CMAKE_SOURCE_DIR}/scripts/wine-session stop ${HV_WINE_STATE})
    set_tests_properties(wine.session.start PROPERTIES FIXTURES_SETUP wine_session TIMEOUT 300)
    set_tests_properties(wine.session.stop PROPERTIES FIXTURES_CLEANUP wine_session TIMEOUT 120)
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
    if(NOT arg_TIMEOUT)
        set(arg_TIMEOUT 300)
    endif()
    set_tests_properties(${name} PROPERTIES
        FIXTURES_REQUIRED wine_session
        TIMEOUT ${arg_TIMEOUT}
        ENVIRONMENT "HV_TEST_BINARY_DIR=${CMAKE_BINARY_DIR};HV_TEST_SOURCE_DIR=${CMAKE_SOURCE_DIR}")
endfunction()
