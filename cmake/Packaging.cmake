# Debian packages, built with `cpack -G DEB` in the build folder: one per
# install component (cmake/Install.cmake).
#
#   libzoscsisrvclient1     component library      the shared libraries
#   libzoscsisrvclient-dev  component development  headers, .so links, CMake
#                                                  package, pkg-config files
#   zoscsisrv               component service      the service, its systemd
#                                                  unit, manual page, guide
#   zoscsictl               component cli          the tool, manual page,
#                                                  bash completion
#
# Files are laid out under /usr (the unit in /usr/lib/systemd/system) and the
# install runs with DESTDIR, so files configured at install time (unit,
# pkg-config files, sample configuration) name /usr paths. Dependencies on
# other packages come from dpkg-shlibdeps (package dpkg-dev) plus the
# explicit ones below; the packages depend on each other at the exact
# version. For a distribution build configure with -DCMAKE_INSTALL_PREFIX=/usr
# (multiarch library folder, no RUNPATH); any other configuration packages
# too, with the libraries in /usr/lib.

set(CPACK_GENERATOR "DEB")
set(CPACK_PACKAGE_NAME "zoscsisrvclient")
set(CPACK_PACKAGE_VENDOR "ZoScsiSrv developers")
set(CPACK_PACKAGE_CONTACT "ZoScsiSrv developers <zoscsisrv-devel@localhost>")
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
# No package-wide summary: each package's description starts with its own.
set(CPACK_PACKAGE_HOMEPAGE_URL "")
set(CPACK_SET_DESTDIR ON)
set(CPACK_INSTALL_PREFIX "/usr")
set(CPACK_PACKAGING_INSTALL_PREFIX "/usr")
set(CPACK_STRIP_FILES ON)

set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL library development service cli)
set(CPACK_COMPONENTS_GROUPING IGNORE)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_ENABLE_COMPONENT_DEPENDS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY "=")

find_program(ZO_DPKG_SHLIBDEPS dpkg-shlibdeps)
if(ZO_DPKG_SHLIBDEPS)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(_zo_runtime_depends "")
  # Our own libraries are found in the build tree; the packages depend on
  # the library package by component (below), not through dpkg-shlibdeps.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS "")
  foreach(_lib zoframework ZoScsiSrvClient)
    if(TARGET ${_lib})
      get_target_property(_dir ${_lib} LIBRARY_OUTPUT_DIRECTORY)
      if(NOT _dir)
        get_target_property(_dir ${_lib} BINARY_DIR)
      endif()
      list(APPEND CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS "${_dir}")
    endif()
  endforeach()
else()
  # Without dpkg-dev: what the binaries link on Debian 12.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS OFF)
  set(_zo_runtime_depends "libc6 (>= 2.34), libstdc++6 (>= 12), libgcc-s1 (>= 3.0)")
endif()

set(CPACK_COMPONENT_LIBRARY_DISPLAY_NAME "ZoScsiSrv client library")
set(CPACK_COMPONENT_LIBRARY_DESCRIPTION
  "client library of the on-demand SCSI target service
libZoScsiSrvClient lets a program on a storage node start the ZoScsiSrv
service through the node's on-demand launcher and drive it: targets, LUNs,
host mappings and listings. libzoframework carries the errors, logging,
configuration, messages and connections it is built on.")
set(CPACK_DEBIAN_LIBRARY_PACKAGE_NAME "libzoscsisrvclient1")
set(CPACK_DEBIAN_LIBRARY_PACKAGE_SECTION "libs")
if(_zo_runtime_depends)
  set(CPACK_DEBIAN_LIBRARY_PACKAGE_DEPENDS "${_zo_runtime_depends}, libpugixml1v5, libssl3")
endif()

set(CPACK_COMPONENT_DEVELOPMENT_DISPLAY_NAME "ZoScsiSrv client development files")
set(CPACK_COMPONENT_DEVELOPMENT_DESCRIPTION
  "development files of the ZoScsiSrv client library
Headers (under /usr/include/zo), the CMake package ZoScsiSrvClient
(find_package(ZoScsiSrvClient CONFIG)) and the pkg-config files
zoscsisrvclient and zoframework.")
set(CPACK_COMPONENT_DEVELOPMENT_DEPENDS library)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_NAME "libzoscsisrvclient-dev")
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_SECTION "libdevel")
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_DEPENDS "libboost-dev (>= ${ZO_BOOST_MIN_VERSION})")
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_SUGGESTS "pkg-config, cmake")
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_SHLIBDEPS OFF)

set(CPACK_COMPONENT_SERVICE_DISPLAY_NAME "ZoScsiSrv service")
set(CPACK_COMPONENT_SERVICE_DESCRIPTION
  "on-demand SCSI target service with a durable inventory
zoscsisrv keeps the node's SCSI targets, LUNs and host mappings in a SQLite
inventory and carries them out on a backend: records only, or real iSCSI
disks through tgtd. The node's launcher starts it on demand; the systemd
unit runs it permanently.")
set(CPACK_COMPONENT_SERVICE_DEPENDS library)
set(CPACK_DEBIAN_SERVICE_PACKAGE_NAME "zoscsisrv")
set(CPACK_DEBIAN_SERVICE_PACKAGE_SECTION "admin")
set(CPACK_DEBIAN_SERVICE_PACKAGE_SUGGESTS "tgt, zoscsictl")
if(_zo_runtime_depends)
  set(CPACK_DEBIAN_SERVICE_PACKAGE_DEPENDS "${_zo_runtime_depends}, libsqlite3-0")
endif()

set(CPACK_COMPONENT_CLI_DISPLAY_NAME "ZoScsiSrv command-line tool")
set(CPACK_COMPONENT_CLI_DESCRIPTION
  "command-line tool for the ZoScsiSrv SCSI target service
zoscsictl runs every operation of the ZoScsiSrv client library from the
shell: start the service, create and delete targets and LUNs, map them to
hosts and list them.")
set(CPACK_COMPONENT_CLI_DEPENDS library)
set(CPACK_DEBIAN_CLI_PACKAGE_NAME "zoscsictl")
set(CPACK_DEBIAN_CLI_PACKAGE_SECTION "admin")
set(CPACK_DEBIAN_CLI_PACKAGE_RECOMMENDS "zoscsisrv")
if(_zo_runtime_depends)
  set(CPACK_DEBIAN_CLI_PACKAGE_DEPENDS "${_zo_runtime_depends}")
endif()

include(CPack)
