# Writes the bash completion of pulsebench-cli from its own --help: the commands, and the
# options of each command. An option's value and any other word complete as a file name.
#
# Usage: cmake -DCLI=<pulsebench-cli> -DOUT=<file> -DCOMMANDS=alphabet;series;... -P bash-completion.cmake

foreach(variable CLI OUT COMMANDS)
  if(NOT DEFINED ${variable})
    message(FATAL_ERROR "bash-completion: ${variable} is not set")
  endif()
endforeach()

# The options a --help text lists: "  --name", "  -x,--name", as they start their lines.
function(options_of help out_var)
  string(REGEX MATCHALL "\n  +(-[a-zA-Z0-9],)?--[a-z0-9-]+" found "${help}")
  set(options "")
  foreach(item IN LISTS found)
    string(REGEX REPLACE "^\n +" "" item "${item}")
    string(REPLACE "," ";" item "${item}")
    list(APPEND options ${item})
  endforeach()
  list(REMOVE_DUPLICATES options)
  list(JOIN options " " options)
  set(${out_var} "${options}" PARENT_SCOPE)
endfunction()

execute_process(COMMAND "${CLI}" --help OUTPUT_VARIABLE help RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "bash-completion: ${CLI} --help exited with ${rc}")
endif()
options_of("${help}" top)
list(JOIN COMMANDS " " words)
list(JOIN COMMANDS "|" pattern)
set(cases "")
foreach(command IN LISTS COMMANDS)
  execute_process(COMMAND "${CLI}" ${command} --help OUTPUT_VARIABLE help RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "bash-completion: ${CLI} ${command} --help exited with ${rc}")
  endif()
  options_of("${help}" options)
  string(APPEND cases "        ${command}) options=\"${options}\" ;;\n")
endforeach()

file(WRITE "${OUT}" "# bash completion for pulsebench-cli, written from its --help -*- shell-script -*-

_pulsebench_cli() {
    local cur=\${COMP_WORDS[COMP_CWORD]} command= options i
    for ((i = 1; i < COMP_CWORD; i++)); do
        case \${COMP_WORDS[i]} in
            ${pattern}) command=\${COMP_WORDS[i]}; break ;;
        esac
    done
    case \$command in
        '') options=\"${top} ${words}\" ;;
${cases}    esac
    if [[ -z \$command || \$cur == -* ]]; then
        COMPREPLY=(\$(compgen -W \"\$options\" -- \"\$cur\"))
    else
        COMPREPLY=()
    fi
}
complete -o bashdefault -o default -F _pulsebench_cli pulsebench-cli
")
