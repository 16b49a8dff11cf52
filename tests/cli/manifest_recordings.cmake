# Inputs of `detect --manifest` under mpirun (see compare_ranks.cmake): five short noisy series of
# different lengths and one missing file, listed in a manifest with a rate per row. One recording
# fails, so the runs end with status 3 and the failed row is reported once.
execute_process(COMMAND ${CLI} alphabet --json OUTPUT_FILE ${WORKDIR}/alphabet.json)
set(manifest "file,rate\n")
set(row 0)
foreach(length 600 2400 1200 900 1800)
  math(EXPR row "${row} + 1")
  execute_process(COMMAND ${CLI} series --type 8 --noise 40 --length ${length} --csv ${WORKDIR}/r${row}.csv
                  RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "series --length ${length} exited with ${rc}")
  endif()
  string(APPEND manifest "r${row}.csv,${row}\n")
  if(row EQUAL 2)
    string(APPEND manifest "missing.csv,\n")
  endif()
endforeach()
file(WRITE ${WORKDIR}/list.csv "${manifest}")
set(ARGS detect --manifest ${WORKDIR}/list.csv --etalons ${WORKDIR}/alphabet.json --tmin 40 --tmax 181
         --saved-energy 75)
set(STATUS 3)
set(ONCE "row 3 \\(missing.csv\\): ")
