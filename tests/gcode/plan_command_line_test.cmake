# Runs the built quorvane-plan as a shell would and checks what reaches each stream and the exit
# status: the library tests cannot see main()'s choice of stream or status.
#   cmake -DPROGRAM=path/to/quorvane-plan -DVERSION=1.7 -DWORK_DIR=folder -P this file
foreach(var PROGRAM VERSION WORK_DIR)
    if(NOT DEFINED ${var})
        message(FATAL_ERROR "${var} not given")
    endif()
endforeach()
file(REMOVE_RECURSE "${WORK_DIR}")
file(MAKE_DIRECTORY "${WORK_DIR}")
set(failures "")

# Runs the program with the remaining arguments; sets rc, out and err.
macro(run)
    execute_process(COMMAND "${PROGRAM}" ${ARGN} RESULT_VARIABLE rc OUTPUT_VARIABLE out
                    ERROR_VARIABLE err)
endmacro()

macro(fail what)
    string(APPEND failures "\n  ${what}: status ${rc}\n  stdout: [${out}]\n  stderr: [${err}]")
endmacro()

run(--version)
if(NOT (rc EQUAL 0 AND out STREQUAL "quorvane-plan ${VERSION}\n" AND err STREQUAL ""))
    fail("--version")
endif()

foreach(help --help -h)
    run(${help})
    string(FIND "${out}" "usage: quorvane-plan " at)
    if(NOT (rc EQUAL 0 AND at EQUAL 0 AND err STREQUAL ""))
        fail("${help}")
    endif()
endforeach()

# Usage errors: the problem and the usage on stderr, nothing on stdout, status 2.
run(--bogus x.nc)
string(FIND "${err}" "quorvane-plan: unknown option --bogus\nusage: quorvane-plan " at)
if(NOT (rc EQUAL 2 AND at EQUAL 0 AND out STREQUAL ""))
    fail("an unknown option")
endif()
run()
string(FIND "${err}" "quorvane-plan: no G-code file given\n" at)
if(NOT (rc EQUAL 2 AND at EQUAL 0 AND out STREQUAL ""))
    fail("no file")
endif()

# A dry run of a small file: the load line and one line per row.
file(WRITE "${WORK_DIR}/part.nc" "G00 X10 Y5\nG01 Z-1 F100\nX20\n")
run(--json "${WORK_DIR}/part.nc")
string(REGEX MATCHALL "\n" lines "${out}")
list(LENGTH lines count)
string(FIND "${out}" "{\"lines\": 3, \"xmax\": \"0020.000\", \"ymax\": \"0005.000\", \"dialect\": \"design\"}\n{\"row\": 0, \"line\": 1," at)
if(NOT (rc EQUAL 0 AND at EQUAL 0 AND count EQUAL 4 AND err STREQUAL ""))
    fail("--json of a three-line file")
endif()
run("${WORK_DIR}/part.nc")
string(FIND "${out}" "Lines kept:     3\n" at)
if(NOT (rc EQUAL 0 AND NOT at EQUAL -1 AND err STREQUAL ""))
    fail("the summary")
endif()

# An answer that cannot be written is an error, not a quiet success.
if(EXISTS /dev/full)
    foreach(answer --version --help)
        execute_process(COMMAND "${PROGRAM}" ${answer} RESULT_VARIABLE rc OUTPUT_FILE /dev/full
                        ERROR_VARIABLE err)
        set(out "(to /dev/full)")
        if(NOT (rc EQUAL 2 AND err STREQUAL "quorvane-plan: could not write the output\n"))
            fail("${answer} to a full disk")
        endif()
    endforeach()
endif()

file(REMOVE_RECURSE "${WORK_DIR}")
if(failures)
    message(FATAL_ERROR "quorvane-plan on the command line:${failures}")
endif()
message(STATUS "quorvane-plan on the command line: every check passed")
