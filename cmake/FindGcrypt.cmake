# SPDX-License-Identifier: MIT
# Finds libgcrypt and libgpg-error; defines Gcrypt_FOUND and the target Gcrypt::Gcrypt.
#
# Native builds ask pkg-config. A cross build (MinGW-w64 with a toolchain file) asks it only
# when PKG_CONFIG_LIBDIR points at the target's .pc files, since the host's would describe the
# host's libraries; otherwise the header and the libraries are searched below
# CMAKE_FIND_ROOT_PATH (Debian's libgcrypt-mingw-w64-dev installs them in
# /usr/<triplet>/include and /usr/<triplet>/lib).
set(_gcrypt_min 1.8)

if(NOT CMAKE_CROSSCOMPILING OR DEFINED ENV{PKG_CONFIG_LIBDIR})
    find_package(PkgConfig QUIET)
    if(PKG_CONFIG_FOUND)
        pkg_check_modules(PC_GCRYPT QUIET IMPORTED_TARGET libgcrypt>=${_gcrypt_min})
    endif()
endif()

if(PC_GCRYPT_FOUND)
    set(Gcrypt_VERSION ${PC_GCRYPT_VERSION})
    if(NOT TARGET Gcrypt::Gcrypt)
        add_library(Gcrypt::Gcrypt INTERFACE IMPORTED)
        target_link_libraries(Gcrypt::Gcrypt INTERFACE PkgConfig::PC_GCRYPT)
    endif()
    include(FindPackageHandleStandardArgs)
    find_package_handle_standard_args(Gcrypt
        REQUIRED_VARS PC_GCRYPT_LINK_LIBRARIES VERSION_VAR Gcrypt_VERSION)
    return()
endif()

find_path(Gcrypt_INCLUDE_DIR gcrypt.h)
find_path(GpgError_INCLUDE_DIR gpg-error.h)
find_library(Gcrypt_LIBRARY NAMES gcrypt libgcrypt)
find_library(GpgError_LIBRARY NAMES gpg-error libgpg-error)
if(Gcrypt_INCLUDE_DIR AND EXISTS ${Gcrypt_INCLUDE_DIR}/gcrypt.h)
    file(STRINGS ${Gcrypt_INCLUDE_DIR}/gcrypt.h _gcrypt_line
         REGEX "^#define GCRYPT_VERSION \"[0-9.]+")
    string(REGEX MATCH "[0-9]+\\.[0-9]+(\\.[0-9]+)?" Gcrypt_VERSION "${_gcrypt_line}")
endif()
include(FindPackageHandleStandardArgs)
find_package_handle_standard_args(Gcrypt
    REQUIRED_VARS Gcrypt_LIBRARY GpgError_LIBRARY Gcrypt_INCLUDE_DIR GpgError_INCLUDE_DIR
    VERSION_VAR Gcrypt_VERSION)
if(Gcrypt_FOUND AND Gcrypt_VERSION VERSION_LESS _gcrypt_min)
    message(FATAL_ERROR "libgcrypt ${Gcrypt_VERSION} found; ${_gcrypt_min} or later is needed")
endif()
if(Gcrypt_FOUND AND NOT TARGET Gcrypt::Gcrypt)
    add_library(Gcrypt::Gcrypt UNKNOWN IMPORTED)
    set_target_properties(Gcrypt::Gcrypt PROPERTIES
        IMPORTED_LOCATION ${Gcrypt_LIBRARY}
        INTERFACE_INCLUDE_DIRECTORIES "${Gcrypt_INCLUDE_DIR};${GpgError_INCLUDE_DIR}"
        INTERFACE_LINK_LIBRARIES ${GpgError_LIBRARY})
endif()
mark_as_advanced(Gcrypt_INCLUDE_DIR GpgError_INCLUDE_DIR Gcrypt_LIBRARY GpgError_LIBRARY)
