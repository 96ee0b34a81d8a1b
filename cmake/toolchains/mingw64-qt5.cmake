# SPDX-License-Identifier: MIT
# Cross-builds for 64-bit Windows with Debian's MinGW-w64 (posix thread model) against a Qt 5
# tree built with the same compilers.
#     cmake -S . -B build-win -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/mingw64-qt5.cmake \
#           -DRAVIX_WIN_QT=<unpacked Qt tree>
# RAVIX_WIN_QT may also come from the environment. The Qt tree carries no Linguist tools; the
# host's are used (the catalogue format is the same). Set CMAKE_CROSSCOMPILING_EMULATOR to a
# Wine binary to have ctest run the programs.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(_triple x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${_triple}-gcc-posix)
set(CMAKE_CXX_COMPILER ${_triple}-g++-posix)
set(CMAKE_RC_COMPILER ${_triple}-windres)

if(NOT RAVIX_WIN_QT AND DEFINED ENV{RAVIX_WIN_QT})
    set(RAVIX_WIN_QT $ENV{RAVIX_WIN_QT})
endif()
if(NOT RAVIX_WIN_QT)
    message(FATAL_ERROR "Set RAVIX_WIN_QT to the Qt tree built for Windows")
endif()
set(RAVIX_WIN_QT ${RAVIX_WIN_QT} CACHE PATH "Qt tree built for Windows with MinGW-w64")
# try_compile projects read this file again and need the same tree.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES RAVIX_WIN_QT)

set(CMAKE_FIND_ROOT_PATH /usr/${_triple} ${RAVIX_WIN_QT})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
list(APPEND CMAKE_PREFIX_PATH ${RAVIX_WIN_QT})

# zlib goes into the library itself, so a Windows install needs no zlib1.dll beside it.
set(ZLIB_USE_STATIC_LIBS ON)

if(NOT Qt5LinguistTools_DIR AND EXISTS /usr/lib/x86_64-linux-gnu/cmake/Qt5LinguistTools)
    set(Qt5LinguistTools_DIR /usr/lib/x86_64-linux-gnu/cmake/Qt5LinguistTools
        CACHE PATH "The host's Linguist tools")
endif()

# Prefixes a project names (an installed ravixcore, say) are searched as they are.
list(APPEND CMAKE_FIND_ROOT_PATH ${CMAKE_PREFIX_PATH})
