# The Windows build's type library: the generated IDL compiled by widl (Debian's wine64-tools)
# into Trutina.tlb, and a resource script that embeds it into a server module as TYPELIB 1, where
# LoadTypeLibEx(module) and RegisterTypeLib find it.
find_program(WIDL widl NO_CMAKE_FIND_ROOT_PATH)
if(NOT WIDL)
  message(FATAL_ERROR "widl not found: the Windows build compiles the type library with it (scripts/setup.sh --windows installs it)")
endif()
# widl's own IDL files (oaidl.idl ...) and stdole2.tlb of the target's bitness.
find_path(WIDL_IDL_DIR oaidl.idl PATHS /usr/include/wine/wine/windows /usr/include/wine/windows
          NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(widl_bits --win64)
  set(stdole_dirs /usr/lib/x86_64-linux-gnu/wine/x86_64-windows /usr/lib/wine/x86_64-windows)
else()
  set(widl_bits --win32)
  set(stdole_dirs /usr/lib/i386-linux-gnu/wine/i386-windows /usr/lib/wine/i386-windows)
endif()
find_path(WIDL_STDOLE_DIR stdole2.tlb PATHS ${stdole_dirs} NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
if(NOT WIDL_IDL_DIR OR NOT WIDL_STDOLE_DIR)
  message(FATAL_ERROR "widl's oaidl.idl or stdole2.tlb not found (package wine64-tools, wine)")
endif()

function(trutina_compile_typelib idl tlb)
  add_custom_command(
    OUTPUT ${tlb}
    COMMAND ${WIDL} -t ${widl_bits} -I ${WIDL_IDL_DIR} -L ${WIDL_STDOLE_DIR} -o ${tlb} ${idl}
    DEPENDS ${idl}
    COMMENT "Compiling the type library Trutina.tlb"
    VERBATIM)
  add_custom_target(trutina_tlb DEPENDS ${tlb})
  set(rc ${CMAKE_CURRENT_BINARY_DIR}/TrutinaTypeLib.rc)
  file(CONFIGURE OUTPUT ${rc} CONTENT "1 TYPELIB \"${tlb}\"\n")
  set_property(GLOBAL PROPERTY TRUTINA_TYPELIB_RC ${rc})
  set_property(GLOBAL PROPERTY TRUTINA_TYPELIB_TLB ${tlb})
endfunction()

# Embeds the type library into a server module (Windows build only).
function(trutina_embed_typelib target)
  get_property(rc GLOBAL PROPERTY TRUTINA_TYPELIB_RC)
  get_property(tlb GLOBAL PROPERTY TRUTINA_TYPELIB_TLB)
  target_sources(${target} PRIVATE ${rc})
  set_source_files_properties(${rc} TARGET_DIRECTORY ${target} PROPERTIES OBJECT_DEPENDS ${tlb})
  add_dependencies(${target} trutina_tlb)
endfunction()

# The proxy and stub of ITrutina that widl writes from the IDL, for a driver in a process of its
# own: interpreted stubs (-Oif), so that the system's rpcrt4 does the marshalling and catches its
# failures, for 32 or 64 bits (the other architecture's host is built here too), into
# <binary dir>/proxy<bits>: Trutina_p.c (proxy, stub, format strings), Trutina_i.c (the ids) and
# TrutinaWidl.h. driver/TrutinaProxy_win.c includes the two sources; target_name builds them.
function(trutina_proxy_sources idl bits target_name)
  set(dir ${CMAKE_CURRENT_BINARY_DIR}/proxy${bits})
  add_custom_command(
    OUTPUT ${dir}/Trutina_p.c ${dir}/Trutina_i.c ${dir}/TrutinaWidl.h
    COMMAND ${CMAKE_COMMAND} -E make_directory ${dir}
    COMMAND ${WIDL} -h --win${bits} -I ${WIDL_IDL_DIR} -H ${dir}/TrutinaWidl.h ${idl}
    COMMAND ${WIDL} -p -Oif --win${bits} -I ${WIDL_IDL_DIR} -H TrutinaWidl.h -o ${dir}/Trutina_p.c ${idl}
    COMMAND ${WIDL} -u --win${bits} -I ${WIDL_IDL_DIR} -o ${dir}/Trutina_i.c ${idl}
    DEPENDS ${idl}
    COMMENT "The ${bits}-bit proxy and stub of ITrutina"
    VERBATIM)
  add_custom_target(${target_name} DEPENDS ${dir}/Trutina_p.c ${dir}/Trutina_i.c ${dir}/TrutinaWidl.h)
endfunction()
