# Checks that MODULE defines exactly the seven entry points of a device plug-in among its
# dynamic symbols: run as  cmake -DMODULE=<path> -P check_exports.cmake
if(NOT MODULE)
  message(FATAL_ERROR "MODULE not given")
endif()
find_program(NM nm REQUIRED)
execute_process(COMMAND ${NM} -D --defined-only "${MODULE}"
                OUTPUT_VARIABLE listing RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "nm failed on ${MODULE}")
endif()

set(expected DoOperation GetDescription GetNumberOfPages GetNumberOperations GetOperation
             GetPage GetText)
set(found "")
string(REPLACE "\n" ";" lines "${listing}")
foreach(line IN LISTS lines)
  # "<address> <type> <name>"; the linker's own bookkeeping symbols are not exports.
  if(line MATCHES "^[0-9a-fA-F]+ ([A-Za-z]) ([^ ]+)$")
    set(type "${CMAKE_MATCH_1}")
    set(name "${CMAKE_MATCH_2}")
    if(type STREQUAL "A" OR name MATCHES "^(_init|_fini|_edata|_end|__bss_start)$")
      continue()
    endif()
    # clang's function-type check (-fsanitize=function) emits the type information of
    # every exported function's type; a build without sanitizers has none.
    if(SANITIZED AND name MATCHES "^_ZT[IS]F")
      continue()
    endif()
    list(APPEND found "${name}")
  endif()
endforeach()
list(SORT found)
if(NOT found STREQUAL expected)
  message(FATAL_ERROR "DevKV70 exports\n  ${found}\nexpected exactly\n  ${expected}")
endif()
message(STATUS "exactly the seven entry points are exported")
