# Runs the CLI with ARGS and expects exit 0 with EXPECT in its standard error (with an empty
# EXPECT, exit 0 and nothing on standard error).
execute_process(COMMAND ${CLI} ${ARGS} OUTPUT_VARIABLE out ERROR_VARIABLE err RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "pulsebench-cli ${ARGS} exited with ${rc}:\n${err}")
endif()
if(EXPECT STREQUAL "" AND NOT err STREQUAL "")
  message(FATAL_ERROR "pulsebench-cli ${ARGS} printed on standard error:\n${err}")
endif()
string(FIND "${err}" "${EXPECT}" at)
if(at EQUAL -1)
  message(FATAL_ERROR "standard error of pulsebench-cli ${ARGS} lacks \"${EXPECT}\":\n${err}")
endif()
