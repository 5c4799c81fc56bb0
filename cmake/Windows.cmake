# The Windows build (MinGW-w64 cross compiler, cmake/mingw-w64.cmake):
# MirlParserUbrof.dll with its type library, resources and exports, and
# tests that run under Wine. Included by the top CMakeLists.txt before the
# component's targets exist; mirl_windows_dll() finishes them afterwards.

enable_language(RC)

# ---- the interface description ---------------------------------------------
find_program(MIRL_WIDL NAMES x86_64-w64-mingw32-widl widl REQUIRED)
# Debian's MinGW packages ship no .idl files; Wine's do (libwine-dev).
set(MIRL_WINE_IDL_DIR /usr/include/wine/wine/windows CACHE PATH "Directory of oaidl.idl")
set(MIRL_STDOLE2_DIR /usr/lib/x86_64-linux-gnu/wine/x86_64-windows
    CACHE PATH "Directory of stdole2.tlb")

# The type library describes the DLL's own bitness (its pointer sizes and
# the platform it registers under, win32 or win64).
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  set(MIRL_WIDL_BITS -m32)
else()
  set(MIRL_WIDL_BITS -m64)
endif()

set(MIRL_GENERATED_DIR ${CMAKE_BINARY_DIR}/generated)
set(MIRL_IDL ${CMAKE_SOURCE_DIR}/component/MirlParserUbrof.idl)
set(MIRL_IDL_HEADER ${MIRL_GENERATED_DIR}/MirlParserUbrof_i.h)
set(MIRL_IDL_IIDS ${MIRL_GENERATED_DIR}/MirlParserUbrof_i.c)
set(MIRL_TLB ${MIRL_GENERATED_DIR}/MirlParserUbrof.tlb)
file(MAKE_DIRECTORY ${MIRL_GENERATED_DIR})
add_custom_command(
  OUTPUT ${MIRL_IDL_HEADER} ${MIRL_IDL_IIDS} ${MIRL_TLB}
  COMMAND ${MIRL_WIDL} ${MIRL_WIDL_BITS} -I${MIRL_WINE_IDL_DIR} -L${MIRL_STDOLE2_DIR}
          -h -H ${MIRL_IDL_HEADER} -u -U ${MIRL_IDL_IIDS} -t -T ${MIRL_TLB} ${MIRL_IDL}
  DEPENDS ${MIRL_IDL}
  COMMENT "widl: MirlParserUbrof_i.h, MirlParserUbrof_i.c, MirlParserUbrof.tlb"
  VERBATIM)
add_custom_target(mirl_idl DEPENDS ${MIRL_IDL_HEADER} ${MIRL_IDL_IIDS} ${MIRL_TLB})

# ---- platform sources -------------------------------------------------------
file(GLOB MIRL_WINDOWS_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/platform/*Windows.cpp)
list(APPEND MIRL_SOURCES ${MIRL_WINDOWS_SOURCES} ${MIRL_IDL_IIDS})

# Resources (type library, strings, version), for the DLL and the unit tests.
set(MIRL_RESOURCES ${CMAKE_SOURCE_DIR}/platform/MirlParserUbrof.rc)
# windres knows nothing of the files the script pulls in. Source properties
# are per directory, so each directory that compiles the script sets them.
macro(mirl_resource_dependencies)
  set_source_files_properties(${MIRL_RESOURCES} PROPERTIES
    OBJECT_DEPENDS "${MIRL_TLB};${CMAKE_SOURCE_DIR}/platform/ModuleStrings.h")
endmacro()

set(MIRL_WINDOWS_LIBS ole32 oleaut32 uuid advapi32 user32 shlwapi mpr)
# No MinGW runtime DLLs at run time: hosts load the DLL from anywhere.
set(MIRL_WINDOWS_LINK_OPTIONS -static-libgcc -static-libstdc++)
# On x86 the exported functions are __stdcall, decorated with their argument
# size (DllCanUnloadNow@0); the .def file exports them undecorated, as
# hosts and regsvr32 look them up.
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  set(MIRL_DLL_LINK_OPTIONS -Wl,--enable-stdcall-fixup)
endif()

# ---- running under Wine ------------------------------------------------------
set(MIRL_WINEPREFIX ${CMAKE_BINARY_DIR}/wineprefix CACHE PATH "Wine prefix for the tests")
configure_file(${CMAKE_SOURCE_DIR}/cmake/wine-run.sh.in ${CMAKE_BINARY_DIR}/wine-run.sh
               @ONLY FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ
               GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(MIRL_WINE_RUN ${CMAKE_BINARY_DIR}/wine-run.sh)
set(CMAKE_CROSSCOMPILING_EMULATOR ${MIRL_WINE_RUN})

# A Linux path as Wine's Z: drive sees it.
function(mirl_wine_path out path)
  set(${out} "Z:${path}" PARENT_SCOPE)
endfunction()

# Finishes the component's targets: generated header and ids, the DLL's name,
# exports, resources and libraries.
function(mirl_windows_dll dll core objects)
  add_dependencies(${objects} mirl_idl)
  target_include_directories(${objects} PUBLIC ${MIRL_GENERATED_DIR})
  target_include_directories(${core} PUBLIC ${MIRL_GENERATED_DIR})
  target_link_libraries(${core} PUBLIC ${MIRL_WINDOWS_LIBS})
  set_target_properties(${dll} PROPERTIES PREFIX "" OUTPUT_NAME MirlParserUbrof)
  mirl_resource_dependencies()
  target_sources(${dll} PRIVATE ${CMAKE_SOURCE_DIR}/platform/MirlParserUbrof.def
                                ${MIRL_RESOURCES})
  target_include_directories(${dll} PRIVATE ${MIRL_GENERATED_DIR} ${CMAKE_SOURCE_DIR}/platform)
  target_link_libraries(${dll} PRIVATE ${MIRL_WINDOWS_LIBS})
  target_link_options(${dll} PRIVATE ${MIRL_WINDOWS_LINK_OPTIONS} ${MIRL_DLL_LINK_OPTIONS})
endfunction()

# A test executable that links the component statically: the same resources
# as the DLL (the component reads them from its own module) and the same
# libraries.
function(mirl_windows_test_libs target)
  mirl_resource_dependencies()
  add_dependencies(${target} mirl_idl)
  target_sources(${target} PRIVATE ${MIRL_RESOURCES})
  target_include_directories(${target} PRIVATE ${MIRL_GENERATED_DIR}
                                               ${CMAKE_SOURCE_DIR}/platform)
  target_link_libraries(${target} PRIVATE ${MIRL_WINDOWS_LIBS})
  target_link_options(${target} PRIVATE ${MIRL_WINDOWS_LINK_OPTIONS})
endfunction()
