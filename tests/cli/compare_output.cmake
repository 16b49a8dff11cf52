# Runs the CLI with ARGS (a ;-list) and compares its standard output with the file GOLDEN, or,
# when OUTFILE is set, the file the CLI wrote there (the word OUTFILE_PATH in ARGS stands for it).
# The version member of a JSON output ("version": "0.1") stands in the golden file as
# "version": "@PULSEBENCH_VERSION@" (VERSION is the running version), so that a new version
# changes no golden file. Set UPDATE_GOLDEN=1 in the environment to rewrite the golden file
# instead.
if(OUTFILE)
  file(REMOVE ${OUTFILE})
  string(REPLACE "OUTFILE_PATH" "${OUTFILE}" ARGS "${ARGS}")
endif()
execute_process(COMMAND ${CLI} ${ARGS} OUTPUT_VARIABLE out ERROR_VARIABLE err RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "pulsebench-cli ${ARGS} exited with ${rc}:\n${err}")
endif()
if(OUTFILE)
  file(READ ${OUTFILE} out)
endif()
if(NOT DEFINED VERSION)
  message(FATAL_ERROR "compare_output: VERSION is not set")
endif()
string(REPLACE "\"version\": \"${VERSION}\"" "\"version\": \"@PULSEBENCH_VERSION@\"" out "${out}")
if("$ENV{UPDATE_GOLDEN}" STREQUAL "1")
  file(WRITE ${GOLDEN} "${out}")
  return()
endif()
file(READ ${GOLDEN} expected)
if(NOT out STREQUAL expected)
  get_filename_component(name ${GOLDEN} NAME)
  file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/${name}.actual "${out}")
  execute_process(COMMAND diff -u ${GOLDEN} ${CMAKE_CURRENT_BINARY_DIR}/${name}.actual)
  message(FATAL_ERROR "output of pulsebench-cli ${ARGS} differs from ${GOLDEN}")
endif()
