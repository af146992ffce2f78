# The Windows backends: HID access through SetupAPI and hid.dll, and the clock
# (pauses, last error) for the Win32 program.
add_library(vespra_hid_windows STATIC hid/hid_windows.cpp)
target_include_directories(vespra_hid_windows PUBLIC ${CMAKE_SOURCE_DIR})
target_link_libraries(vespra_hid_windows PUBLIC setupapi hid)

add_library(vespra_clock_windows STATIC hid/clock_windows.cpp)
target_include_directories(vespra_clock_windows PUBLIC ${CMAKE_SOURCE_DIR})
target_link_libraries(vespra_clock_windows PUBLIC user32 winmm)
