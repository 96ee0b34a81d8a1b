# SPDX-License-Identifier: MIT
# Builds every C++ and CMake block of the README against an installed tree, runs the minimal
# host once with its shared data root in a scratch folder and finds its log where the README
# says, then runs the README's pkg-config commands and the host they built.
include(${CMAKE_CURRENT_LIST_DIR}/common.cmake)
install_prefix(prefix)

set(blocks ${WORK_DIR}/blocks)
run(python3 ${CMAKE_CURRENT_LIST_DIR}/readme_blocks.py ${README} ${PREFIX}/include ${blocks})
run(${CMAKE_COMMAND} -S ${blocks} -B ${blocks}/build
    -DCMAKE_PREFIX_PATH=${PREFIX} -DCMAKE_CXX_COMPILER=${CXX}
    "-DCMAKE_CXX_FLAGS=-Wall -Wextra ${SAN_FLAGS}" "-DCMAKE_EXE_LINKER_FLAGS=${SAN_FLAGS}")
run(${CMAKE_COMMAND} --build ${blocks}/build)

# Default work directory: ALLUSERSPROFILE (else /var/lib) and "mydaemon".
string(TIMESTAMP today "%Y-%m-%d")
set(ENV{ALLUSERSPROFILE} ${WORK_DIR}/shared)
run_daemon_until(${blocks}/build/mydaemon
    ${WORK_DIR}/shared/mydaemon/logs/${today}_mydaemon.log "mydaemon started")
foreach(f mydaemon.ini versions/mydaemon.ver translations/ravixcore_ru.qm)
    if(NOT EXISTS ${WORK_DIR}/shared/mydaemon/${f})
        message(FATAL_ERROR "the minimal host left no ${f} in its work directory")
    endif()
endforeach()

# pkg-config, as the README writes it: moc, the compiler line with the run path.
set(pc ${WORK_DIR}/pkgconfig)
file(MAKE_DIRECTORY ${pc})
file(COPY ${blocks}/main.cpp DESTINATION ${pc})
file(GLOB_RECURSE pcfile ${PREFIX}/*/ravixcore.pc)
get_filename_component(pcdir "${pcfile}" DIRECTORY)
set(ENV{PKG_CONFIG_PATH} "${pcdir}")
execute_process(COMMAND bash ${blocks}/pkgconfig.sh WORKING_DIRECTORY ${pc}
    RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT rc EQUAL 0)
    message(FATAL_ERROR "the README's pkg-config commands failed (${rc}):\n${out}\n${err}")
endif()
# A sanitizer build's library needs its runtime first in the program, which the README's plain
# compiler line does not give: there the host is built but not run.
if(NOT SANITIZE)
    file(REMOVE_RECURSE ${WORK_DIR}/shared)
    run_daemon_until(${pc}/mydaemon
        ${WORK_DIR}/shared/mydaemon/logs/${today}_mydaemon.log "mydaemon started")
endif()
message(STATUS "README blocks ok")
