# Runs the built program where no display can be opened (an X display that is not there) and
# checks that it says so and ends with status 3, instead of aborting with a core dump.
#   cmake -DPROGRAM=path/to/quorvane -DNAME=quorvane -P this file
foreach(var PROGRAM NAME)
    if(NOT DEFINED ${var})
        message(FATAL_ERROR "${var} not given")
    endif()
endforeach()
execute_process(
    COMMAND ${CMAKE_COMMAND} -E env --unset=WAYLAND_DISPLAY DISPLAY=:54321 QT_QPA_PLATFORM=xcb
            "${PROGRAM}"
    RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err TIMEOUT 60)
string(FIND "${err}" "${NAME}: no display could be opened" said)
if(NOT rc STREQUAL "3" OR said EQUAL -1)
    message(FATAL_ERROR "without a display: status [${rc}]\n  stdout: [${out}]\n  stderr: [${err}]")
endif()
