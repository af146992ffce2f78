# The Windows HID backend: HID access through SetupAPI and hid.dll. (The Win32
# programs' pauses are the front-end's, app/windows/clock_windows.cpp.)
add_library(vespra_hid_windows STATIC hid/hid_windows.cpp)
target_include_directories(vespra_hid_windows PUBLIC ${CMAKE_SOURCE_DIR})
target_link_libraries(vespra_hid_windows PUBLIC setupapi hid)
