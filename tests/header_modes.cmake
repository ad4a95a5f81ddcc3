# Compiles tests/header_modes.c, which includes taskclient.h, in every C and
# C++ language mode a host program may use, with every compiler given, and
# checks that the header's version macros are the project's version.
#
#   cmake -DSOURCE_DIR=<repo> -DWORK_DIR=<scratch> -DVERSION=<x.y.z>
#         "-DCOMPILERS=gcc;g++;clang;clang++" -P tests/header_modes.cmake
#
# Compilers whose name ends in "++" take the C++ modes, the others the C modes.
set(c_modes c89 c99 c11 c17)
set(cxx_modes c++98 c++11 c++17 c++20)
set(warnings -Wall -Wextra -pedantic -Werror)

string(REPLACE "." ";" parts "${VERSION}")
list(GET parts 0 major)
list(GET parts 1 minor)
list(GET parts 2 patch)
set(expected -DEXPECTED_MAJOR=${major} -DEXPECTED_MINOR=${minor} -DEXPECTED_PATCH=${patch})

file(MAKE_DIRECTORY "${WORK_DIR}")
set(failed 0)
set(ran 0)
foreach(compiler IN LISTS COMPILERS)
  if(compiler MATCHES "\\+\\+$")
    set(modes ${cxx_modes})
    set(language -x c++)
  else()
    set(modes ${c_modes})
    set(language -x c)
  endif()
  get_filename_component(name "${compiler}" NAME)

  # The version string, as the compiler sees it, is the project's version.
  execute_process(COMMAND ${compiler} ${language} -E -dM "${SOURCE_DIR}/include/taskclient.h"
                  OUTPUT_VARIABLE macros RESULT_VARIABLE status)
  string(REGEX MATCH "#define TASKCLIENT_VERSION_STRING \"([^\"]*)\"" found "${macros}")
  if(NOT status EQUAL 0 OR NOT CMAKE_MATCH_1 STREQUAL VERSION)
    message(SEND_ERROR "${name}: TASKCLIENT_VERSION_STRING is \"${CMAKE_MATCH_1}\", the project is ${VERSION}")
    math(EXPR failed "${failed} + 1")
  endif()

  foreach(mode IN LISTS modes)
    execute_process(
      COMMAND ${compiler} ${language} -std=${mode} ${warnings} ${expected} -I "${SOURCE_DIR}/include"
              -c "${SOURCE_DIR}/tests/header_modes.c" -o "${WORK_DIR}/${name}-${mode}.o"
      OUTPUT_VARIABLE output ERROR_VARIABLE output RESULT_VARIABLE status)
    math(EXPR ran "${ran} + 1")
    if(status EQUAL 0)
      message(STATUS "${name} -std=${mode}: ok")
    else()
      message(SEND_ERROR "${name} -std=${mode}: failed\n${output}")
      math(EXPR failed "${failed} + 1")
    endif()
  endforeach()
endforeach()
if(ran EQUAL 0)
  message(FATAL_ERROR "no compiler given")
endif()
message(STATUS "${ran} compilations, ${failed} failures")
