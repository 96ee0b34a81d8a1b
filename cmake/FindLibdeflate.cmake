# SPDX-License-Identifier: MIT
# Finds libdeflate and defines the imported target Libdeflate::Libdeflate.
# LIBDEFLATE_PREFIX names a prefix holding include/libdeflate.h and lib/ that is taken as it
# is, outside a cross build's find root (for MinGW-w64, scripts/build-libdeflate-mingw.sh fills
# one). Otherwise pkg-config supplies hints where it knows the library, and the usual search
# applies (CMAKE_PREFIX_PATH, Libdeflate_ROOT).
if(LIBDEFLATE_PREFIX)
    find_path(Libdeflate_INCLUDE_DIR libdeflate.h PATHS ${LIBDEFLATE_PREFIX}/include
              NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
    find_library(Libdeflate_LIBRARY NAMES deflate libdeflate PATHS ${LIBDEFLATE_PREFIX}/lib
                 NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
endif()
find_package(PkgConfig QUIET)
if(PkgConfig_FOUND AND NOT CMAKE_CROSSCOMPILING)
    pkg_check_modules(PC_LIBDEFLATE QUIET libdeflate)
endif()

find_path(Libdeflate_INCLUDE_DIR libdeflate.h HINTS ${PC_LIBDEFLATE_INCLUDE_DIRS})
find_library(Libdeflate_LIBRARY NAMES deflate libdeflate HINTS ${PC_LIBDEFLATE_LIBRARY_DIRS})

if(Libdeflate_INCLUDE_DIR AND EXISTS ${Libdeflate_INCLUDE_DIR}/libdeflate.h)
    file(STRINGS ${Libdeflate_INCLUDE_DIR}/libdeflate.h _ver
         REGEX "^#define LIBDEFLATE_VERSION_STRING")
    string(REGEX REPLACE ".*\"([^\"]*)\".*" "\\1" Libdeflate_VERSION "${_ver}")
endif()

include(FindPackageHandleStandardArgs)
find_package_handle_standard_args(Libdeflate
    REQUIRED_VARS Libdeflate_LIBRARY Libdeflate_INCLUDE_DIR
    VERSION_VAR Libdeflate_VERSION)

if(Libdeflate_FOUND AND NOT TARGET Libdeflate::Libdeflate)
    add_library(Libdeflate::Libdeflate UNKNOWN IMPORTED)
    set_target_properties(Libdeflate::Libdeflate PROPERTIES
        IMPORTED_LOCATION ${Libdeflate_LIBRARY}
        INTERFACE_INCLUDE_DIRECTORIES ${Libdeflate_INCLUDE_DIR})
endif()
mark_as_advanced(Libdeflate_INCLUDE_DIR Libdeflate_LIBRARY)
