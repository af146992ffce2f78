# The firmware image must be there and whole before anything embeds it: an empty
# or truncated file would build an updater that erases the controller and then
# writes nothing, or drops the last bytes. The image is sent in 32-bit words, so
# its size must be a multiple of 4.
#
# Included by res/CMakeLists.txt; also runs on its own:
#   cmake -DIMAGE=path/to/image.bin -P check_firmware_image.cmake
function(vespra_check_firmware_image image)
    if(NOT EXISTS "${image}" OR IS_DIRECTORY "${image}")
        message(FATAL_ERROR "Firmware image ${image} is missing")
    endif()
    file(SIZE "${image}" size)
    if(size EQUAL 0)
        message(FATAL_ERROR "Firmware image ${image} is empty")
    endif()
    math(EXPR remainder "${size} % 4")
    if(NOT remainder EQUAL 0)
        message(FATAL_ERROR "Firmware image ${image} has ${size} bytes, not a multiple of 4")
    endif()
endfunction()

if(CMAKE_SCRIPT_MODE_FILE STREQUAL CMAKE_CURRENT_LIST_FILE)
    vespra_check_firmware_image("${IMAGE}")
endif()
