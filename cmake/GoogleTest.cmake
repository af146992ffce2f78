# GoogleTest from Debian: the packaged library natively, its sources when cross-building.
if(CMAKE_CROSSCOMPILING)
    set(gtest_force_shared_crt OFF CACHE BOOL "" FORCE)
    set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
    set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
    add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
    # Newer GoogleTest sources define these aliases themselves.
    if(NOT TARGET GTest::gtest)
        add_library(GTest::gtest ALIAS gtest)
        add_library(GTest::gtest_main ALIAS gtest_main)
        add_library(GTest::gmock ALIAS gmock)
    endif()
else()
    find_package(GTest REQUIRED)
endif()
include(GoogleTest)

# vespra_add_test(name SOURCES ... [PORTS ...] [LIBS ...]): one GoogleTest program,
# registered with CTest as a whole (under Wine when cross-built, through the
# emulator). PORTS: the core is linked in with these ports (vespra_link_core).
function(vespra_add_test name)
    cmake_parse_arguments(T "" "" "SOURCES;PORTS;LIBS" ${ARGN})
    add_executable(${name} ${T_SOURCES})
    if(T_PORTS)
        vespra_link_core(${name} PORTS ${T_PORTS})
    endif()
    target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gtest_main)
    add_test(NAME ${name} COMMAND ${name})
endfunction()
