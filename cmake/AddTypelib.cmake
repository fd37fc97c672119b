# add_typelib(<name> <idl> [DEPENDS <file>...])
#
# Compiles <idl> with widl into <name>.tlb and the C++ declarations <name>.h, both in the current
# binary directory, and adds a target <name>_typelib that builds them. The binary directory is on
# widl's library path, so one IDL may importlib() the .tlb of another (list it under DEPENDS).
# widl needs Wine's IDL files (libwine-dev) and, for importlib("stdole2.tlb"), Wine's stdole2.tlb.

# stdole2.tlb of the target's bitness first; the other one declares the same types, so it serves
# where only one half of Wine is installed.
set(_quorlin_wine32_dir /usr/lib/i386-linux-gnu/wine/i386-windows)
set(_quorlin_wine64_dir /usr/lib/x86_64-linux-gnu/wine/x86_64-windows)
if(QUORLIN_TRIPLE MATCHES "^x86_64")
  set(_quorlin_wine_windows_dirs ${_quorlin_wine64_dir} ${_quorlin_wine32_dir})
  set(_quorlin_widl_target --win64)
else()
  set(_quorlin_wine_windows_dirs ${_quorlin_wine32_dir} ${_quorlin_wine64_dir})
  set(_quorlin_widl_target --win32)
endif()

find_path(QUORLIN_WINE_IDL_DIR oaidl.idl
  PATHS /usr/include/wine/wine/windows /usr/include/wine/windows
  NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
find_path(QUORLIN_STDOLE2_DIR stdole2.tlb
  PATHS ${_quorlin_wine_windows_dirs}
  NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
if(NOT QUORLIN_WINE_IDL_DIR OR NOT QUORLIN_STDOLE2_DIR)
  message(FATAL_ERROR "widl needs Wine's oaidl.idl (package libwine-dev) and stdole2.tlb "
                      "(package libwine)")
endif()

function(add_typelib name idl)
  cmake_parse_arguments(PARSE_ARGV 2 ARG "" "" "DEPENDS")
  get_filename_component(idl ${idl} ABSOLUTE)
  get_filename_component(idl_dir ${idl} DIRECTORY)
  set(tlb ${CMAKE_CURRENT_BINARY_DIR}/${name}.tlb)
  set(header ${CMAKE_CURRENT_BINARY_DIR}/${name}.h)
  add_custom_command(
    OUTPUT ${tlb} ${header}
    # A fixed time stamp keeps the type library the same from build to build.
    COMMAND ${CMAKE_COMMAND} -E env WIDL_TIME_OVERRIDE=0
            ${QUORLIN_WIDL} ${_quorlin_widl_target}
            -I${QUORLIN_WINE_IDL_DIR} -I${idl_dir}
            -L${QUORLIN_STDOLE2_DIR} -L${CMAKE_CURRENT_BINARY_DIR}
            -t -T ${tlb} -h -H ${header} ${idl}
    DEPENDS ${idl} ${ARG_DEPENDS}
    COMMENT "widl ${name}.idl"
    VERBATIM)
  add_custom_target(${name}_typelib DEPENDS ${tlb} ${header})
endfunction()
