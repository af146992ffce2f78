# vespra_link_core(target PORTS port...): links the platform-neutral core and the
# resources into target, with the port libraries that resolve the core's platform
# operations (HID access, clock, dialog; see the README). Core and ports refer to
# each other both ways, so the linker rescans them as one group.
function(vespra_link_core target)
    cmake_parse_arguments(L "" "" "PORTS" ${ARGN})
    if(NOT L_PORTS OR L_UNPARSED_ARGUMENTS)
        message(FATAL_ERROR "vespra_link_core(${target} PORTS ...): name the ports")
    endif()
    list(JOIN L_PORTS "," ports)
    target_link_libraries(${target} PRIVATE "$<LINK_GROUP:RESCAN,vespra_core,vespra_res,${ports}>")
endfunction()
