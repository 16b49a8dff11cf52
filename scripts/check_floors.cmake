# The floors of the source tree: a file includes only from its own floor or below.
#
#   app/ python/                                    the front ends: everything below, except
#                                                   that python/ stands on core/, io/ and the
#                                                   engine only (no window code, no batch
#                                                   tool) and the batch tool's files (app/cli_*)
#                                                   do not include the recording view
#   workbench/                                      the window's behaviour
#   display/ panels/ dialogs/ export/ recording/ plot/   what is painted, edited, written
#   core/                                           the application's floor
#   io/                                             readers and writers
#   model/ processing/ simulation/                  the engine: only itself
#   platform/                                       the window system: the engine's message sink at most
#
# Besides, no two folders include each other and no two files include each other: a floor has
# no cycles inside it either.
#
# Usage: cmake -DROOT=<source tree> -P check_floors.cmake
# Prints every include that breaks a rule with its file and line, and fails when there is one.

cmake_minimum_required(VERSION 3.20)

if(NOT DEFINED ROOT)
  message(FATAL_ERROR "check_floors: ROOT is not set")
endif()

set(engine model processing simulation)
set(window_floor display panels dialogs export recording plot)

# The folders a folder may include from (besides itself).
set(allowed_model ${engine})
set(allowed_processing ${engine})
set(allowed_simulation ${engine})
set(allowed_platform ${engine})
set(allowed_io ${engine})
set(allowed_core io ${engine} platform)
foreach(folder IN LISTS window_floor)
  set(allowed_${folder} ${window_floor} core io ${engine} platform)
endforeach()
set(allowed_workbench ${window_floor} core io ${engine} platform)
set(allowed_app workbench ${window_floor} core io ${engine} platform app)
set(allowed_python core io ${engine} python)

set(folders ${engine} platform io core ${window_floor} workbench app python)
set(faults "")
set(folder_edges "")
set(file_edges "")

foreach(folder IN LISTS folders)
  file(GLOB_RECURSE sources RELATIVE "${ROOT}" "${ROOT}/${folder}/*.h" "${ROOT}/${folder}/*.cpp")
  foreach(source IN LISTS sources)
    file(STRINGS "${ROOT}/${source}" lines REGEX "^[ \t]*#[ \t]*include[ \t]*\"")
    foreach(line IN LISTS lines)
      string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]*\"([^\"]*)\".*$" "\\1" header "${line}")
      # Only headers named by their folder take part ("model/series.h"); a bare name is a
      # generated or a neighbouring file.
      if(NOT header MATCHES "^([a-z_]+)/")
        continue()
      endif()
      set(target "${CMAKE_MATCH_1}")
      if(NOT target IN_LIST folders)
        continue()
      endif()
      list(APPEND file_edges "${source}>${header}")
      if(target STREQUAL folder)
        continue()
      endif()
      list(APPEND folder_edges "${folder}>${target}")
      if(source MATCHES "^app/cli_" AND target STREQUAL "recording")
        list(APPEND faults "${source}: includes ${header}: the batch tool does not include the recording view")
      elseif(NOT target IN_LIST allowed_${folder})
        string(REPLACE ";" " " allowed_text "${allowed_${folder}}")
        list(APPEND faults "${source}: includes ${header} from a floor above (${folder}/ may include ${allowed_text})")
      endif()
    endforeach()
  endforeach()
endforeach()

list(REMOVE_DUPLICATES folder_edges)
# Two folders (named with a trailing /) or two files that include each other.
foreach(kind IN ITEMS folder file)
  set(mark "")
  if(kind STREQUAL "folder")
    set(mark "/")
  endif()
  foreach(edge IN LISTS ${kind}_edges)
    string(REPLACE ">" ";" ends "${edge}")
    list(GET ends 0 from)
    list(GET ends 1 to)
    if("${to}>${from}" IN_LIST ${kind}_edges AND from STRLESS to)
      list(APPEND faults "${from}${mark} and ${to}${mark} include each other")
    endif()
  endforeach()
endforeach()

if(faults)
  list(LENGTH faults count)
  foreach(fault IN LISTS faults)
    message("${fault}")
  endforeach()
  message(FATAL_ERROR "check_floors: ${count} include(s) break the floors")
endif()
message(STATUS "check_floors: every include keeps to its floor")
