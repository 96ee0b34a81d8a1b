# SPDX-License-Identifier: MIT
# Compiles every installed public header alone, as the first include of a file of its own,
# with QT_NO_KEYWORDS and strict warnings as errors: a header must bring what it needs and
# use Q_SIGNALS, Q_SLOTS and Q_EMIT only.
include(${CMAKE_CURRENT_LIST_DIR}/common.cmake)
install_prefix(prefix)

set(project ${WORK_DIR}/headers)
file(GLOB_RECURSE headers RELATIVE ${PREFIX}/include ${PREFIX}/include/ravixcore/*.h)
list(SORT headers)
set(sources "")
foreach(header IN LISTS headers)
    string(MAKE_C_IDENTIFIER "${header}" name)
    file(WRITE ${project}/${name}.cpp "#include <${header}>\n")
    list(APPEND sources ${name}.cpp)
endforeach()
list(LENGTH sources count)
if(count LESS 30)
    message(FATAL_ERROR "only ${count} public headers installed")
endif()
list(JOIN sources " " sources)
file(WRITE ${project}/CMakeLists.txt "
cmake_minimum_required(VERSION 3.16)
project(header_check LANGUAGES CXX)
set(CMAKE_CXX_STANDARD 17)
set(CMAKE_CXX_EXTENSIONS OFF)
find_package(Qt5 5.15 REQUIRED COMPONENTS Core Network Sql)
add_library(header_check OBJECT ${sources})
# Our headers through -I, so their warnings count; Qt's stay system headers.
target_include_directories(header_check PRIVATE ${PREFIX}/include)
target_link_libraries(header_check PRIVATE Qt5::Core Qt5::Network Qt5::Sql)
target_compile_definitions(header_check PRIVATE QT_NO_KEYWORDS)
target_compile_options(header_check PRIVATE -Wall -Wextra -Wpedantic -Werror)
")
run(${CMAKE_COMMAND} -S ${project} -B ${project}/build -DCMAKE_CXX_COMPILER=${CXX})
run(${CMAKE_COMMAND} --build ${project}/build -j 2)
message(STATUS "${count} public headers compile alone")
