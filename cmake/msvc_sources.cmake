# The files and definitions of a build of taskclient.dll with Microsoft's
# compiler (a Visual Studio project or an NMake file), for each TLS, as
# docs/device-build.md lists them between its "msvc-sources" markers. Made
# from cmake/sources.cmake, which CMakeLists.txt builds from, so the two
# cannot drift apart.
#
#   cmake -P cmake/msvc_sources.cmake             fails when the page differs
#   cmake -DWRITE=ON -P cmake/msvc_sources.cmake  writes the list into the page
#
# PAGE (optional) names another file to check or write.
cmake_minimum_required(VERSION 3.16)
get_filename_component(root ${CMAKE_CURRENT_LIST_DIR}/.. ABSOLUTE)
if(NOT PAGE)
  set(PAGE ${root}/docs/device-build.md)
endif()
include(${CMAKE_CURRENT_LIST_DIR}/sources.cmake)

set(begin_tag "<!-- msvc-sources: begin")
set(begin "${begin_tag}; written by `cmake -DWRITE=ON -P cmake/msvc_sources.cmake`, do not edit -->")
set(end "<!-- msvc-sources: end -->")

# A list as Markdown: one `item` per line of an indented block, or inline.
function(as_lines out)
  set(text "")
  foreach(item ${ARGN})
    string(APPEND text "    ${item}\n")
  endforeach()
  set(${out} "${text}" PARENT_SCOPE)
endfunction()
function(as_words out)
  list(JOIN ARGN "` `" text)
  set(${out} "`${text}`" PARENT_SCOPE)
endfunction()

# Every source but the platform layer's own: the same for both TLS choices.
taskclient_platform_sources(ON native OFF)
set(native_sources ${TASKCLIENT_PLATFORM_SOURCES})
taskclient_platform_sources(ON bearssl OFF)
set(bearssl_sources ${TASKCLIENT_PLATFORM_SOURCES})
set(shared ${TASKCLIENT_CORE_SOURCES} ${TASKCLIENT_EXPORT_SOURCES} ${native_sources})
list(REMOVE_ITEM native_sources ${bearssl_sources})
list(REMOVE_ITEM shared ${native_sources})
list(REMOVE_ITEM bearssl_sources ${shared})

as_lines(shared_text ${shared})
as_words(includes ${TASKCLIENT_INCLUDE_DIRECTORIES})
set(block "${begin}\n\nBoth TLS choices compile these C++ files, with the include folders ${includes}:\n\n${shared_text}\n")
string(APPEND block "and link with the export list `${TASKCLIENT_DEF_FILE}` (`/DEF:`). Each TLS adds its own:\n\n")
string(APPEND block "| TLS | also compile | defines for every C++ file | with certificate checking |\n|---|---|---|---|\n")
foreach(tls native bearssl)
  as_words(own ${${tls}_sources})
  if(tls STREQUAL "bearssl")
    string(APPEND own ", BearSSL's C files")
  endif()
  taskclient_platform_sources(ON ${tls} OFF)
  as_words(plain ${TASKCLIENT_LIBRARY_DEFINITIONS} ${TASKCLIENT_PLATFORM_DEFINITIONS})
  taskclient_platform_sources(ON ${tls} ON)
  as_words(checking ${TASKCLIENT_LIBRARY_DEFINITIONS} ${TASKCLIENT_VERIFY_DEFINITIONS} ${TASKCLIENT_PLATFORM_DEFINITIONS})
  string(APPEND block "| `${tls}` | ${own} | ${plain} | ${checking} |\n")
endforeach()
as_words(bearssl_defines ${TASKCLIENT_BEARSSL_WINCE_DEFINITIONS})
string(APPEND block "\nBearSSL's C files are every `.c` under its `src/`, compiled with its folders\n"
  "`inc` and `src` and with ${bearssl_defines}.\n\n${end}")

file(READ ${PAGE} text)
string(FIND "${text}" "${begin_tag}" from)
string(FIND "${text}" "${end}" to)
if(from EQUAL -1 OR to EQUAL -1 OR to LESS from)
  message(FATAL_ERROR "${PAGE} has no block between a line starting with\n${begin_tag}\nand the line\n${end}")
endif()
string(LENGTH "${end}" end_length)
math(EXPR length "${to} + ${end_length} - ${from}")
string(SUBSTRING "${text}" ${from} ${length} current)
if(current STREQUAL block)
  message(STATUS "${PAGE}: the list for Microsoft's compiler matches cmake/sources.cmake")
elseif(WRITE)
  string(REPLACE "${current}" "${block}" text "${text}")
  file(WRITE ${PAGE} "${text}")
  message(STATUS "${PAGE}: the list for Microsoft's compiler written from cmake/sources.cmake")
else()
  message(FATAL_ERROR "${PAGE}: the list for Microsoft's compiler differs from cmake/sources.cmake; "
                      "write it with: cmake -DWRITE=ON -P cmake/msvc_sources.cmake\nExpected:\n${block}")
endif()
