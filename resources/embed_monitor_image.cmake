# Embeds a flash monitor image as the C++ array kFlashMonitorImage.
#
# Included by resources/CMakeLists.txt, which calls kv70_embed_monitor_image(); also
# runnable on its own (the tests do), as
#   cmake -DIMAGE=<file> -DOUTPUT=<file.cpp> [-DFROM_OPTION=ON] -P embed_monitor_image.cmake
# FROM_OPTION says the file was named by the KV70_MONITOR_IMAGE option rather than being
# the shipped stand-in; the plug-in tells the two apart in its wire-trace note.
# A file that is not exactly 8554 bytes stops the configuration: the device's RAM layout
# and the upload are built around that size.

set(KV70_MONITOR_IMAGE_SIZE 8554)
set(_kv70_embed_dir "${CMAKE_CURRENT_LIST_DIR}")

function(kv70_embed_monitor_image image output)
  cmake_parse_arguments(E "FROM_OPTION" "" "" ${ARGN})
  if(NOT EXISTS "${image}" OR IS_DIRECTORY "${image}")
    message(FATAL_ERROR "Flash monitor image ${image} does not exist or is not a file "
                        "(KV70_MONITOR_IMAGE).")
  endif()
  file(SIZE "${image}" size)
  if(NOT size EQUAL KV70_MONITOR_IMAGE_SIZE)
    message(FATAL_ERROR "Flash monitor image ${image} is ${size} bytes; it must be exactly "
                        "${KV70_MONITOR_IMAGE_SIZE} bytes (KV70_MONITOR_IMAGE).")
  endif()
  file(READ "${image}" hex HEX)
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
  string(REPEAT "0x..," 16 line)   # sixteen bytes a line
  string(REGEX REPLACE "(${line})" "\\1\n  " bytes "${bytes}")
  set(KV70_IMAGE_SOURCE "${image}")
  if(E_FROM_OPTION)
    set(KV70_IMAGE_ORIGIN "embedded from the build option KV70_MONITOR_IMAGE (${image})")
  else()
    set(KV70_IMAGE_ORIGIN "embedded stand-in")
  endif()
  set(KV70_IMAGE_BYTES "${bytes}")
  # configure_file rewrites the output only when it changes, so an unchanged image does
  # not rebuild anything.
  configure_file("${_kv70_embed_dir}/monitor_image.cpp.in" "${output}" @ONLY)
endfunction()

if(CMAKE_SCRIPT_MODE_FILE STREQUAL CMAKE_CURRENT_LIST_FILE)
  if(FROM_OPTION)
    kv70_embed_monitor_image("${IMAGE}" "${OUTPUT}" FROM_OPTION)
  else()
    kv70_embed_monitor_image("${IMAGE}" "${OUTPUT}")
  endif()
endif()
