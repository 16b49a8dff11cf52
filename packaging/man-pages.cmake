# Writes the manual pages of pulsebench-cli and pulsebench (compressed, NAME.1.gz) from the programs' own --help and
# --version with help2man. pulsebench-cli(1) gets a section per command, holding that command's
# own --help.
#
# Usage: cmake -DHELP2MAN=... -DCLI=<pulsebench-cli> -DWINDOW=<pulsebench> -DOUT=<folder>
#              -DCOMMANDS=alphabet;series;... -DVERSION=0.1 -DLICENCE=... -P man-pages.cmake

foreach(variable HELP2MAN CLI WINDOW OUT COMMANDS VERSION LICENCE)
  if(NOT DEFINED ${variable})
    message(FATAL_ERROR "man-pages: ${variable} is not set")
  endif()
endforeach()

# Text for roff, kept as it is laid out: backslashes escaped, no line taken as a request.
function(roff_verbatim text out_var)
  string(REPLACE "\\" "\\e" text "${text}")
  string(REGEX REPLACE "(^|\n)([.'])" "\\1\\\\&\\2" text "${text}")
  set(${out_var} ".nf\n${text}.fi\n" PARENT_SCOPE)
endfunction()

set(include "${OUT}/pulsebench-cli.h2m")
file(WRITE "${include}" "[DESCRIPTION]\n"
     "pulsebench-cli runs the workbench's engine without a window: it prints the alphabet, makes "
     "series, processes them, runs statistical simulations, replays the window's commands and "
     "finds the pulses of recordings. Each command starts from the workbench's start-up state; "
     "a refusal gives a non-zero exit status and the reason on standard error.\n")
foreach(command IN LISTS COMMANDS)
  execute_process(COMMAND "${CLI}" ${command} --help OUTPUT_VARIABLE help RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "man-pages: ${CLI} ${command} --help exited with ${rc}")
  endif()
  roff_verbatim("${help}" body)
  string(TOUPPER "${command}" title)
  file(APPEND "${include}" "[COMMAND ${title}]\n${body}")
endforeach()
set(copyright "[COPYRIGHT]\nLicence: ${LICENCE}.\n")
file(APPEND "${include}" "${copyright}[SEE ALSO]\n.BR pulsebench (1)\n")

set(window_include "${OUT}/pulsebench.h2m")
file(WRITE "${window_include}" "${copyright}[SEE ALSO]\n.BR pulsebench-cli (1)\n")

foreach(page "pulsebench-cli|${CLI}|${include}|the engine of the PulseBench workbench without a window"
             "pulsebench|${WINDOW}|${window_include}|workbench for the detection and recognition of pulse sequences")
  string(REPLACE "|" ";" page "${page}")
  list(GET page 0 name)
  list(GET page 1 program)
  list(GET page 2 included)
  list(GET page 3 summary)
  # The version given, not read: --version goes on to the licence and the libraries.
  execute_process(COMMAND "${HELP2MAN}" --no-info --section=1 "--name=${summary}" "--include=${included}"
                          "--version-string=${VERSION}"
                          "--output=${OUT}/${name}.1" "${program}"
                  RESULT_VARIABLE rc ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "man-pages: help2man ${program} failed (${rc}): ${err}")
  endif()
  execute_process(COMMAND gzip -9nf "${OUT}/${name}.1" RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "man-pages: gzip ${OUT}/${name}.1 failed (${rc})")
  endif()
endforeach()
