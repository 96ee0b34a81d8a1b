# SPDX-License-Identifier: MIT
# Installs the library into a scratch prefix, moves the prefix elsewhere (the installed tree is
# relocatable) and builds a consumer against it, once through find_package and once through
# pkg-config, so a broken install step fails the suite.
include(${CMAKE_CURRENT_LIST_DIR}/common.cmake)
install_prefix(prefix)

foreach(f include/ravixcore/ravixcore_export.h include/ravixcore/ravixcore_version.h
          include/ravixcore/appframe/initconfig.h include/ravixcore/appframe/dircreator.h)
    if(NOT EXISTS ${PREFIX}/${f})
        message(FATAL_ERROR "not installed: ${f}")
    endif()
endforeach()
file(GLOB_RECURSE private_headers ${PREFIX}/include/*_p.h)
if(private_headers)
    message(FATAL_ERROR "private headers installed: ${private_headers}")
endif()
file(GLOB_RECURSE libdirs LIST_DIRECTORIES true ${PREFIX}/*/ravixcoreConfig.cmake)
if(NOT libdirs)
    message(FATAL_ERROR "no ravixcoreConfig.cmake installed")
endif()

set(moved ${WORK_DIR}/moved/elsewhere)
file(MAKE_DIRECTORY ${WORK_DIR}/moved)
file(RENAME ${PREFIX} ${moved})

# find_package
run(${CMAKE_COMMAND} -S ${CONSUMER_DIR} -B ${WORK_DIR}/cmake-build
    -DCMAKE_PREFIX_PATH=${moved} -DCMAKE_CXX_COMPILER=${CXX}
    "-DCMAKE_EXE_LINKER_FLAGS=${SAN_FLAGS}" "-DCMAKE_CXX_FLAGS=${SAN_FLAGS}")
run(${CMAKE_COMMAND} --build ${WORK_DIR}/cmake-build)
run(${WORK_DIR}/cmake-build/consumer ${moved})
if(NOT LAST_OUTPUT MATCHES "consumer ok")
    message(FATAL_ERROR "unexpected consumer output: ${LAST_OUTPUT}")
endif()

# pkg-config
file(GLOB_RECURSE pcfile ${moved}/*/ravixcore.pc)
get_filename_component(pcdir "${pcfile}" DIRECTORY)
set(ENV{PKG_CONFIG_PATH} "${pcdir}")
execute_process(COMMAND pkg-config --cflags --libs ravixcore
    RESULT_VARIABLE rc OUTPUT_VARIABLE flags OUTPUT_STRIP_TRAILING_WHITESPACE)
if(NOT rc EQUAL 0)
    message(FATAL_ERROR "pkg-config cannot find ravixcore")
endif()
separate_arguments(flags UNIX_COMMAND "${flags}")
run(${CXX} -std=c++17 -fPIC ${SAN_FLAGS} ${CONSUMER_DIR}/main.cpp -o ${WORK_DIR}/pc-consumer ${flags})
get_filename_component(libdir "${pcdir}" DIRECTORY)
set(ENV{LD_LIBRARY_PATH} "${libdir}")
run(${WORK_DIR}/pc-consumer ${moved})
if(NOT LAST_OUTPUT MATCHES "consumer ok")
    message(FATAL_ERROR "unexpected pkg-config consumer output: ${LAST_OUTPUT}")
endif()
message(STATUS "packaging ok")
