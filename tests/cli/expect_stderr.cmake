# Runs the CLI with ARGS and expects exit 0 with EXPECT in its standard error.
execute_process(COMMAND ${CLI} ${ARGS} OUTPUT_VARIABLE out ERROR_VARIABLE err RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "pulsebench-cli ${ARGS} exited with ${rc}:\n${err}")
endif()
string(FIND "${err}" "${EXPECT}" at)
if(at EQUAL -1)
  message(FATAL_ERROR "standard error of pulsebench-cli ${ARGS} lacks \"${EXPECT}\":\n${err}")
endif()
