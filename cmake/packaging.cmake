# SPDX-License-Identifier: MIT
# Binary packages made by CPack from the install step: on Debian, "cpack -G DEB" in the build
# directory writes the runtime package (shared library, catalogues) and the development
# package (headers, CMake package, .pc file, the library's link name).
# Packaging never builds: it takes what the build made (the test suite packs while tests run).
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)

set(CPACK_PACKAGE_NAME ravixcore)
set(CPACK_PACKAGE_VENDOR "The ravixcore developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "Core extensions to Qt 5 for unattended service applications")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_COMPONENTS_ALL runtime development)

set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "The ravixcore developers")
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "")
set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME libravixcore${RAVIXCORE_SOVERSION})
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION libs)
# The shared libraries it links (Qt, zlib) become its dependencies.
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_NAME libravixcore-dev)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_DEPENDS
    "libravixcore${RAVIXCORE_SOVERSION} (= ${PROJECT_VERSION}), qtbase5-dev")

include(CPack)
