# SPDX-License-Identifier: MIT
# Makes the Debian packages with CPack, unpacks them into a throw-away root with dpkg -x and
# builds and runs the consumer against what they hold.
include(${CMAKE_CURRENT_LIST_DIR}/common.cmake)

set(packages ${WORK_DIR}/packages)
run(${CPACK} -G DEB --config ${BUILD_DIR}/CPackConfig.cmake -B ${packages})
file(GLOB runtime ${packages}/libravixcore[0-9]*_*.deb)
file(GLOB development ${packages}/libravixcore-dev_*.deb)
list(LENGTH runtime n_runtime)
list(LENGTH development n_development)
if(NOT n_runtime EQUAL 1 OR NOT n_development EQUAL 1)
    file(GLOB all ${packages}/*.deb)
    message(FATAL_ERROR "expected one runtime and one development package, got: ${all}")
endif()

# What goes where: the library and catalogues in the runtime package, headers and the link
# name in the development package, which depends on the runtime package of the same version.
run(dpkg-deb --contents ${runtime})
set(runtime_files "${LAST_OUTPUT}")
run(dpkg-deb --contents ${development})
set(development_files "${LAST_OUTPUT}")
foreach(expect "usr/lib/libravixcore\\.so\\.[0-9]+\\.[0-9]+\\.[0-9]+" "usr/share/ravixcore/translations/ravixcore_ru\\.qm")
    if(NOT runtime_files MATCHES "${expect}")
        message(FATAL_ERROR "runtime package lacks ${expect}:\n${runtime_files}")
    endif()
endforeach()
if(runtime_files MATCHES "include/")
    message(FATAL_ERROR "headers in the runtime package:\n${runtime_files}")
endif()
foreach(expect "usr/include/ravixcore/appframe/initconfig\\.h" "usr/lib/libravixcore\\.so "
               "ravixcoreConfig\\.cmake" "pkgconfig/ravixcore\\.pc")
    if(NOT development_files MATCHES "${expect}")
        message(FATAL_ERROR "development package lacks ${expect}:\n${development_files}")
    endif()
endforeach()
run(dpkg-deb --field ${development} Depends)
if(NOT LAST_OUTPUT MATCHES "libravixcore[0-9]+ \\(= ")
    message(FATAL_ERROR "the development package does not depend on the runtime: ${LAST_OUTPUT}")
endif()

set(root ${WORK_DIR}/root)
run(dpkg -x ${runtime} ${root})
run(dpkg -x ${development} ${root})

run(${CMAKE_COMMAND} -S ${CONSUMER_DIR} -B ${WORK_DIR}/consumer-build
    -DCMAKE_PREFIX_PATH=${root}/usr -DCMAKE_CXX_COMPILER=${CXX}
    "-DCMAKE_EXE_LINKER_FLAGS=${SAN_FLAGS}" "-DCMAKE_CXX_FLAGS=${SAN_FLAGS}")
run(${CMAKE_COMMAND} --build ${WORK_DIR}/consumer-build)
set(ENV{LD_LIBRARY_PATH} ${root}/usr/lib)
run(${WORK_DIR}/consumer-build/consumer ${root}/usr)
if(NOT LAST_OUTPUT MATCHES "consumer ok")
    message(FATAL_ERROR "unexpected consumer output: ${LAST_OUTPUT}")
endif()
message(STATUS "Debian packages ok")
