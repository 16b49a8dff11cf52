# Runs `pulsebench-cli ARGS --csv FILE --json` in one process and under `mpirun -np RANKS`, and
# requires the same CSV bytes and the same JSON apart from the run's start and end times, the exit
# status STATUS (default 0) of both, and the text ONCE (default the simulation's report) once on
# the ranks' standard error. SETUP, when given, is a script run first that writes its inputs into
# WORKDIR and may set ARGS, STATUS and ONCE.
# Skipped (with the message ctest looks for) when MPIRUN names no program.
if(NOT MPIRUN OR NOT EXISTS "${MPIRUN}")
  message("SKIPPED: mpirun not found; the MPI tests need Open MPI (scripts/ensure-deps installs it)")
  return()
endif()
set(launch ${MPIRUN} -np ${RANKS} --oversubscribe)
execute_process(COMMAND id -u OUTPUT_VARIABLE uid OUTPUT_STRIP_TRAILING_WHITESPACE)
if(uid STREQUAL "0")
  list(APPEND launch --allow-run-as-root)
endif()

set(one ${WORKDIR}/one.csv)
set(many ${WORKDIR}/ranks${RANKS}.csv)
set(STATUS 0)
set(ONCE "number of repeats")
file(MAKE_DIRECTORY ${WORKDIR})
file(REMOVE ${one} ${many})
if(SETUP)
  include(${SETUP})
endif()
execute_process(COMMAND ${CLI} ${ARGS} --csv ${one} --json
                OUTPUT_VARIABLE oneJson ERROR_VARIABLE oneErr RESULT_VARIABLE rc)
if(NOT rc EQUAL STATUS)
  message(FATAL_ERROR "pulsebench-cli ${ARGS} exited with ${rc}:\n${oneErr}")
endif()
# Open MPI's plug-ins keep memory to the end and are unloaded before the leak check can name
# them, so the ranks run without it (the one-process run above keeps it); every other check of
# the sanitizers stays on.
if(DEFINED ENV{ASAN_OPTIONS} AND NOT "$ENV{ASAN_OPTIONS}" STREQUAL "")
  set(ENV{ASAN_OPTIONS} "$ENV{ASAN_OPTIONS}:detect_leaks=0")
else()
  set(ENV{ASAN_OPTIONS} "detect_leaks=0")
endif()
execute_process(COMMAND ${launch} ${CLI} ${ARGS} --csv ${many} --json
                OUTPUT_VARIABLE manyJson ERROR_VARIABLE manyErr RESULT_VARIABLE rc)
if(NOT rc EQUAL STATUS)
  message(FATAL_ERROR "mpirun -np ${RANKS} pulsebench-cli ${ARGS} exited with ${rc}:\n${manyErr}")
endif()

file(READ ${one} oneCsv)
file(READ ${many} manyCsv)
if(NOT oneCsv STREQUAL manyCsv)
  execute_process(COMMAND diff -u ${one} ${many})
  message(FATAL_ERROR "the CSV of ${RANKS} ranks differs from one process")
endif()
string(REGEX MATCHALL "\n" lines "${oneCsv}")
list(LENGTH lines rows)
if(rows LESS 3)
  message(FATAL_ERROR "the CSV holds too few cells to compare:\n${oneCsv}")
endif()
foreach(v oneJson manyJson)
  string(REGEX REPLACE "\"(startTime|endTime)\": \"[^\"]*\"" "\"\\1\": \"\"" ${v} "${${v}}")
endforeach()
if(NOT oneJson STREQUAL manyJson)
  file(WRITE ${WORKDIR}/one.json "${oneJson}")
  file(WRITE ${WORKDIR}/ranks${RANKS}.json "${manyJson}")
  execute_process(COMMAND diff -u ${WORKDIR}/one.json ${WORKDIR}/ranks${RANKS}.json)
  message(FATAL_ERROR "the JSON of ${RANKS} ranks differs from one process")
endif()
# Rank 0 alone reports: one report, one summary of the ranks.
string(REGEX MATCHALL "${ONCE}" reports "${manyErr}")
list(LENGTH reports count)
if(NOT count EQUAL 1)
  message(FATAL_ERROR "expected \"${ONCE}\" once from rank 0, got ${count}:\n${manyErr}")
endif()
message("${manyErr}")
