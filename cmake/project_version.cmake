# The project's version and installed layout as one generated header, for the hosts and
# the simulator (the plug-in has its own version block). Including it as
# "project_version.h" keeps it out of every layer.
# The private folder of the libraries, relative to the installation prefix: velmora and
# kv70sim find libframework.so there through their RPATH, and velmora looks there for
# DevKV70.so when it is not beside the program.
set(KV70_PRIVATE_LIBDIR "lib/${CMAKE_LIBRARY_ARCHITECTURE}/velmora")
if(WIN32 OR NOT CMAKE_LIBRARY_ARCHITECTURE)
  set(KV70_PRIVATE_LIBDIR "lib/velmora")
endif()
configure_file(${CMAKE_CURRENT_LIST_DIR}/project_version.h.in
               ${CMAKE_BINARY_DIR}/generated/project_version.h @ONLY)
add_library(project_version INTERFACE)
target_include_directories(project_version INTERFACE ${CMAKE_BINARY_DIR}/generated)
