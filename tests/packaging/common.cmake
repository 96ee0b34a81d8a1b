# SPDX-License-Identifier: MIT
# Shared steps of the packaging tests (cmake -P scripts): running a command and installing the
# built library into a scratch prefix.

function(run)
    execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
    if(NOT rc EQUAL 0)
        message(FATAL_ERROR "failed (${rc}): ${ARGN}\n${out}\n${err}")
    endif()
    set(LAST_OUTPUT "${out}" PARENT_SCOPE)
endfunction()

# Installs BUILD_DIR into <WORK_DIR>/<name>; sets PREFIX.
function(install_prefix name)
    set(prefix ${WORK_DIR}/${name})
    file(REMOVE_RECURSE ${prefix})
    run(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix})
    set(PREFIX ${prefix} PARENT_SCOPE)
endfunction()

# The compiler and linker flags of a sanitizer build, for programs built against it.
set(SAN_FLAGS "")
if(SANITIZE)
    string(REPLACE ";" "," _san "${SANITIZE}")
    set(SAN_FLAGS "-fsanitize=${_san}")
endif()

# Starts a daemon, waits (120 s at most) until LOG_FILE holds TEXT, then ends it with SIGTERM.
function(run_daemon_until exe log_file text)
    run(bash ${CMAKE_CURRENT_LIST_DIR}/run_daemon.sh ${exe} ${log_file} ${text})
endfunction()

file(REMOVE_RECURSE ${WORK_DIR})
file(MAKE_DIRECTORY ${WORK_DIR})
