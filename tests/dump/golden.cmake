# One golden-output case of ubrofdump: runs TOOL with ARGS (arguments
# separated by "|") in WORKDIR and compares what it prints (stdout, then
# stderr and the exit status) with the file GOLDEN. With UPDATE set it
# writes GOLDEN instead; the target update_dump_golden does that for every
# case when the output changes on purpose.
string(REPLACE "|" ";" args "${ARGS}")
# Standard input is the fixture directory's addresses.txt (for --addr -).
execute_process(COMMAND ${TOOL} ${args}
                WORKING_DIRECTORY ${WORKDIR}
                INPUT_FILE ${WORKDIR}/addresses.txt
                OUTPUT_VARIABLE out
                ERROR_VARIABLE err
                RESULT_VARIABLE rc)
string(REPLACE ";" " " shown "${args}")
set(actual "$ ubrofdump ${shown}\n${out}")
if(NOT err STREQUAL "")
  string(APPEND actual "--- stderr\n${err}")
endif()
string(APPEND actual "--- exit status ${rc}\n")

if(UPDATE)
  file(WRITE ${GOLDEN} "${actual}")
  message(STATUS "wrote ${GOLDEN}")
  return()
endif()
if(NOT EXISTS ${GOLDEN})
  file(WRITE ${ACTUAL} "${actual}")
  message(FATAL_ERROR "no golden file ${GOLDEN}; the output is in ${ACTUAL}")
endif()
file(READ ${GOLDEN} expected)
if(NOT expected STREQUAL actual)
  file(WRITE ${ACTUAL} "${actual}")
  message(FATAL_ERROR "ubrofdump ${shown}: the output differs from the golden file.\n"
                      "  diff -u ${GOLDEN} ${ACTUAL}\n"
                      "If the change is intended: cmake --build <build> --target update_dump_golden")
endif()
