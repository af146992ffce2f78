# HID access through hidraw and libudev, for the Linux programs and their tests.
find_package(PkgConfig REQUIRED)
pkg_check_modules(LIBUDEV REQUIRED IMPORTED_TARGET libudev)

add_library(vespra_hid_linux STATIC
    ${CMAKE_CURRENT_LIST_DIR}/hid_linux.cpp
    ${CMAKE_CURRENT_LIST_DIR}/report_descriptor.cpp)
target_include_directories(vespra_hid_linux PUBLIC ${CMAKE_SOURCE_DIR})
target_link_libraries(vespra_hid_linux PUBLIC PkgConfig::LIBUDEV)

# Waiting for a moment on the monotonic clock: the pauses of the Linux programs,
# with an event loop (the Qt front-end) and without (vespra_clock_posix).
add_library(vespra_wait_posix STATIC ${CMAKE_CURRENT_LIST_DIR}/wait_until_posix.cpp)
target_include_directories(vespra_wait_posix PUBLIC ${CMAKE_SOURCE_DIR})
target_link_libraries(vespra_clock_posix PUBLIC vespra_wait_posix)
