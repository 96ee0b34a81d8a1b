file(REMOVE_RECURSE ${WORK_DIR})
file(MAKE_DIRECTORY ${WORK_DIR})
set(prefix ${WORK_DIR}/prefix)

function(run)
    execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
    if(NOT rc EQUAL 0)
        message(FATAL_ERROR "failed (${rc}): ${ARGN}\n${out}\n${err}")
    endif()
    set(LAST_OUTPUT "${out}" PARENT_SCOPE)
endfunction()

run(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix})

foreach(f include/ravixcore/ravixcore_export.h include/ravixcore/appframe/initconfig.h
          include/ravixcore/appframe/dircreator.h)
    if(NOT EXISTS ${prefix}/${f})
        message(FATAL_ERROR "not installed: ${f}")
    endif()
endforeach()
file(GLOB_RECURSE private_headers ${prefix}/include/*_p.h)
if(private_headers)
    message(FATAL_ERROR "private headers installed: ${private_headers}")
endif()
file(GLOB_RECURSE libdirs LIST_DIRECTORIES true ${prefix}/*/ravixcoreConfig.cmake)
if(NOT libdirs)
    message(FATAL_ERROR "no ravixcoreConfig.cmake installed")
endif()

set(san_flags "")
if(SANITIZE)
    string(REPLACE ";" "," san "${SANITIZE}")
    set(san_flags "-fsanitize=${san}")
endif()

# find_package
run(${CMAKE_COMMAND} -S ${CONSUMER_DIR} -B ${WORK_DIR}/cmake-build
    -DCMAKE_PREFIX_PATH=${prefix} -DCMAKE_CXX_COMPILER=${CXX}
    "-DCMAKE_EXE_LINKER_FLAGS=${san_flags}" "-DCMAKE_CXX_FLAGS=${san_flags}")
run(${CMAKE_COMMAND} --build ${WORK_DIR}/cmake-build)
run(${WORK_DIR}/cmake-build/consumer)
if(NOT LAST_OUTPUT MATCHES "consumer ok")
    message(FATAL_ERROR "unexpected consumer output: ${LAST_OUTPUT}")
endif()

# pkg-config
file(GLOB_RECURSE pcfile ${prefix}/*/ravixcore.pc)
get_filename_component(pcdir "${pcfile}" DIRECTORY)
set(ENV{PKG_CONFIG_PATH} "${pcdir}")
execute_process(COMMAND pkg-config --cflags --libs ravixcore
    RESULT_VARIABLE rc OUTPUT_VARIABLE flags OUTPUT_STRIP_TRAILING_WHITESPACE)
if(NOT rc EQUAL 0)
    message(FATAL_ERROR "pkg-config cannot find ravixcore")
endif()
separate_arguments(flags UNIX_COMMAND "${flags}")
run(${CXX} -std=c++17 -fPIC ${san_flags} ${CONSUMER_DIR}/main.cpp -o ${WORK_DIR}/pc-consumer ${flags})
get_filename_component(libdir "${pcdir}" DIRECTORY)
set(ENV{LD_LIBRARY_PATH} "${libdir}")
run(${WORK_DIR}/pc-consumer)
if(NOT LAST_OUTPUT MATCHES "consumer ok")
    message(FATAL_ERROR "unexpected pkg-config consumer output: ${LAST_OUTPUT}")
endif()
message(STATUS "packaging ok")
