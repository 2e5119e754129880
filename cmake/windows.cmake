# What the Windows build (cmake/mingw-w64.cmake) needs besides the Linux one: GoogleTest
# built for the target from Debian's sources, CLI11's headers without the host's system
# headers, the MinGW runtime DLLs beside the programs, and the framework DLL exporting
# its classes (MinGW's linker exports every symbol of a DLL that marks none).
set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
foreach(_lib gtest gtest_main gmock gmock_main)
  target_compile_options(${_lib} PRIVATE -w)
  if(NOT TARGET GTest::${_lib})
    add_library(GTest::${_lib} ALIAS ${_lib})
  endif()
endforeach()

# CLI11 is header-only; a copy of its headers keeps /usr/include out of the search path.
file(COPY /usr/include/CLI DESTINATION ${CMAKE_BINARY_DIR}/cli11)
add_library(CLI11::CLI11 INTERFACE IMPORTED)
set_target_properties(CLI11::CLI11 PROPERTIES
  INTERFACE_INCLUDE_DIRECTORIES ${CMAKE_BINARY_DIR}/cli11)
set(CLI11_FOUND TRUE)
set(CLI11_DIR ${CMAKE_BINARY_DIR}/cli11)

# The runtime DLLs the programs load (libstdc++, libgcc, winpthread), beside them.
execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=libstdc++-6.dll
                OUTPUT_VARIABLE _stdcxx OUTPUT_STRIP_TRAILING_WHITESPACE)
execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=libgcc_s_seh-1.dll
                OUTPUT_VARIABLE _libgcc OUTPUT_STRIP_TRAILING_WHITESPACE)
file(COPY ${_stdcxx} ${_libgcc} /usr/${KV70_MINGW_PREFIX}/lib/libwinpthread-1.dll
     DESTINATION ${CMAKE_BINARY_DIR}/bin)

add_compile_definitions(_WIN32_WINNT=0x0601)
