# Third-party code, all from Debian: Boost and fmt headers, and libbzip2 plus
# Boost.Iostreams' bzip2 filter built for the target by scripts/fetch-deps.sh.
set(HV_DEPS_DIR "${CMAKE_SOURCE_DIR}/.deps" CACHE PATH "Cache of dependencies built for the target")
set(hv_deps_prefix "${HV_DEPS_DIR}/mingw64")

if(NOT EXISTS "${hv_deps_prefix}/lib/libbz2.a" OR NOT EXISTS "${hv_deps_prefix}/lib/libboost_iostreams_bzip2.a")
    message(STATUS "Building the target's dependencies from Debian sources")
    execute_process(
        COMMAND ${CMAKE_COMMAND} -E env HV_DEPS_DIR=${HV_DEPS_DIR}
                ${CMAKE_SOURCE_DIR}/scripts/fetch-deps.sh
        RESULT_VARIABLE fetch_result)
    if(NOT fetch_result EQUAL 0)
        message(FATAL_ERROR "scripts/fetch-deps.sh failed")
    endif()
endif()

add_library(hv_bz2 STATIC IMPORTED)
set_target_properties(hv_bz2 PROPERTIES IMPORTED_LOCATION "${hv_deps_prefix}/lib/libbz2.a")

add_library(hv_boost_iostreams_bzip2 STATIC IMPORTED)
set_target_properties(hv_boost_iostreams_bzip2 PROPERTIES
    IMPORTED_LOCATION "${hv_deps_prefix}/lib/libboost_iostreams_bzip2.a"
    INTERFACE_LINK_LIBRARIES hv_bz2)

# fmt's headers come from Debian's libfmt-dev through a folder holding only
# a link to them, so the cross compiler never sees the host's /usr/include.
set(hv_fmt_include "${CMAKE_BINARY_DIR}/fmt-include")
file(MAKE_DIRECTORY "${hv_fmt_include}")
file(CREATE_LINK /usr/include/fmt "${hv_fmt_include}/fmt" SYMBOLIC)

add_library(hv_deps INTERFACE)
target_include_directories(hv_deps SYSTEM INTERFACE "${hv_deps_prefix}/include" "${hv_fmt_include}")
