# Install rules: where `cmake --install` puts everything, and the exported
# CMake package and pkg-config files a host program builds against.
#
# Layout (relative to the install prefix, GNU directories):
#   include/zo/                 every public header: the library's
#                               (ZoScsiSrvClient.h, ZoScsiServer.h,
#                               ZoScsiSrvStart.h) and the framework's
#                               (CYbError.h ... and zo/*.h), so that
#                               <ZoScsiSrvClient.h> and "zo/Limits.h" resolve
#                               with one -I<prefix>/include/zo
#   <libdir>/                   libZoScsiSrvClient.so.1, libzoframework.so.1
#   <libdir>/cmake/ZoScsiSrvClient/   find_package(ZoScsiSrvClient CONFIG)
#   <libdir>/pkgconfig/         zoscsisrvclient.pc, zoframework.pc
#   sbin/zoscsisrv              the service (man section 8)
#   bin/zoscsictl               the command-line tool
#   lib/systemd/system/zoscsisrv.service
#   share/man/man1, man8        zoscsictl.1, zoscsisrv.8
#   share/bash-completion/completions/zoscsictl
#   share/doc/zoscsisrv/        the user's guide (docs/*.md) and
#                               examples/zo.conf.sample
#
# Components (`cmake --install --component NAME`):
#   library      the two shared libraries (runtime)
#   development  headers, the .so links, CMake package, pkg-config files
#   service      zoscsisrv, its unit, its manual page, docs, sample config
#   cli          zoscsictl, its manual page, bash completion
# The Debian packages (debian/) split the same files by debian/*.install.
#
# Every rule for a target built elsewhere is guarded with if(TARGET ...), so
# the tree configures while a part is still missing.

include(CMakePackageConfigHelpers)

set(ZO_INSTALL_INCLUDEDIR "${CMAKE_INSTALL_INCLUDEDIR}/zo")
set(ZO_BOOST_MIN_VERSION 1.74)
set(ZO_INSTALL_CMAKEDIR "${CMAKE_INSTALL_LIBDIR}/cmake/ZoScsiSrvClient")
set(ZO_INSTALL_PKGCONFIGDIR "${CMAKE_INSTALL_LIBDIR}/pkgconfig")
set(ZO_INSTALL_UNITDIR "lib/systemd/system" CACHE STRING
    "Directory for the systemd unit, relative to the prefix")
set(ZO_INSTALL_COMPLETIONDIR "${CMAKE_INSTALL_DATADIR}/bash-completion/completions" CACHE STRING
    "Directory for bash completion scripts, relative to the prefix")
set(ZO_INSTALL_DOCDIR "${CMAKE_INSTALL_DATADIR}/doc/zoscsisrv")

# Executables find the libraries next to them through a relative RUNPATH, so a
# tree installed anywhere (a private prefix, a staging folder) runs as it is.
# A distribution build (prefix /usr) needs none: the libraries are on the
# system's search path.
if(CMAKE_INSTALL_PREFIX STREQUAL "/usr")
  set(_zo_default_rpath OFF)
else()
  set(_zo_default_rpath ON)
endif()
option(ZO_INSTALL_RPATH "Give installed programs a relative RUNPATH to the installed libraries"
       ${_zo_default_rpath})

set(_zo_libraries "")
foreach(_lib zoframework ZoScsiSrvClient)
  if(TARGET ${_lib})
    list(APPEND _zo_libraries ${_lib})
  else()
    message(STATUS "install: target ${_lib} not defined yet, not installed")
  endif()
endforeach()

# SONAME and file version, when the owning folder has not set them.
foreach(_lib IN LISTS _zo_libraries)
  get_target_property(_soversion ${_lib} SOVERSION)
  if(NOT _soversion)
    set_target_properties(${_lib} PROPERTIES VERSION ${PROJECT_VERSION}
                                             SOVERSION ${PROJECT_VERSION_MAJOR})
  endif()
endforeach()

# An installed library finds its sibling through $ORIGIN; programs through
# the path from their folder to the library folder.
if(ZO_INSTALL_RPATH)
  foreach(_lib IN LISTS _zo_libraries)
    set_target_properties(${_lib} PROPERTIES INSTALL_RPATH "$ORIGIN")
  endforeach()
  foreach(_pair "zoscsisrv;${CMAKE_INSTALL_SBINDIR}" "zoscsictl;${CMAKE_INSTALL_BINDIR}")
    list(GET _pair 0 _exe)
    list(GET _pair 1 _dir)
    if(TARGET ${_exe})
      file(RELATIVE_PATH _rel "/prefix/${_dir}" "/prefix/${CMAKE_INSTALL_LIBDIR}")
      set_target_properties(${_exe} PROPERTIES INSTALL_RPATH "$ORIGIN/${_rel}")
    endif()
  endforeach()
endif()

# The installed interface of the libraries: headers under include/zo (the
# INCLUDES DESTINATION below). A folder that declared its include directories
# as plain paths gets them marked build-only here: an exported target must not
# point into the source tree.
foreach(_lib IN LISTS _zo_libraries)
  get_target_property(_incs ${_lib} INTERFACE_INCLUDE_DIRECTORIES)
  if(NOT _incs)
    continue()
  endif()
  set(_fixed "")
  set(_changed FALSE)
  foreach(_inc IN LISTS _incs)
    if(IS_ABSOLUTE "${_inc}")
      list(APPEND _fixed "$<BUILD_INTERFACE:${_inc}>")
      set(_changed TRUE)
    else()
      list(APPEND _fixed "${_inc}")
    endif()
  endforeach()
  if(_changed)
    set_target_properties(${_lib} PROPERTIES INTERFACE_INCLUDE_DIRECTORIES "${_fixed}")
  endif()
endforeach()

if(_zo_libraries)
  install(TARGETS ${_zo_libraries}
    EXPORT ZoScsiSrvClientTargets
    LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
            COMPONENT library
            NAMELINK_COMPONENT development
    ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT development
    RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT library
    INCLUDES DESTINATION ${ZO_INSTALL_INCLUDEDIR})

  install(EXPORT ZoScsiSrvClientTargets
    NAMESPACE ZoScsiSrvClient::
    DESTINATION ${ZO_INSTALL_CMAKEDIR}
    COMPONENT development)

  configure_package_config_file(
    ${PROJECT_SOURCE_DIR}/cmake/ZoScsiSrvClientConfig.cmake.in
    ${PROJECT_BINARY_DIR}/packaging/ZoScsiSrvClientConfig.cmake
    INSTALL_DESTINATION ${ZO_INSTALL_CMAKEDIR}
    PATH_VARS ZO_INSTALL_INCLUDEDIR)
  write_basic_package_version_file(
    ${PROJECT_BINARY_DIR}/packaging/ZoScsiSrvClientConfigVersion.cmake
    VERSION ${PROJECT_VERSION}
    COMPATIBILITY SameMajorVersion)
  install(FILES
    ${PROJECT_BINARY_DIR}/packaging/ZoScsiSrvClientConfig.cmake
    ${PROJECT_BINARY_DIR}/packaging/ZoScsiSrvClientConfigVersion.cmake
    DESTINATION ${ZO_INSTALL_CMAKEDIR}
    COMPONENT development)
endif()

# Public headers: the framework's tree as it is (zo/ included) and the
# library's own, all in one folder.
install(DIRECTORY ${PROJECT_SOURCE_DIR}/framework/include/
  DESTINATION ${ZO_INSTALL_INCLUDEDIR}
  COMPONENT development
  FILES_MATCHING PATTERN "*.h")
install(DIRECTORY ${PROJECT_SOURCE_DIR}/client/include/ ${PROJECT_SOURCE_DIR}/bootstrap/include/
  DESTINATION ${ZO_INSTALL_INCLUDEDIR}
  COMPONENT development
  FILES_MATCHING PATTERN "*.h")

# Files whose text names installed paths are configured at install time, from
# the prefix the install really uses (`cmake --install --prefix`), not the
# one the build was configured with.
# They are written under $DESTDIR like every other file.
function(zo_install_configured template destination component)
  get_filename_component(_name "${template}" NAME)
  string(REGEX REPLACE "\\.in$" "" _name "${_name}")
  install(CODE "
    set(ZO_PREFIX \"\${CMAKE_INSTALL_PREFIX}\")
    set(ZO_VERSION \"${PROJECT_VERSION}\")
    set(ZO_LIBDIR \"${CMAKE_INSTALL_LIBDIR}\")
    set(ZO_INCLUDEDIR \"${ZO_INSTALL_INCLUDEDIR}\")
    set(ZO_SBINDIR \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_SBINDIR}\")
    set(ZO_BINDIR \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}\")
    set(_dest \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${destination}/${_name}\")
    message(STATUS \"Installing: \${_dest}\")
    configure_file(\"${template}\" \"\${_dest}\" @ONLY)
    list(APPEND CMAKE_INSTALL_MANIFEST_FILES \"\${CMAKE_INSTALL_PREFIX}/${destination}/${_name}\")
  " COMPONENT ${component})
endfunction()

# An install into /usr (a distribution prefix) needs no RUNPATH: the system's
# loader path has the libraries. It is removed there when the install runs,
# whatever prefix the build was configured with.
function(zo_drop_runpath_under_usr component)
  if(NOT ZO_INSTALL_RPATH)
    return()
  endif()
  set(_code "if(CMAKE_INSTALL_PREFIX STREQUAL \"/usr\")\n")
  foreach(_file IN LISTS ARGN)
    string(APPEND _code "  file(RPATH_REMOVE FILE \"\$ENV{DESTDIR}/usr/${_file}\")\n")
  endforeach()
  string(APPEND _code "endif()\n")
  install(CODE "${_code}" COMPONENT ${component})
endfunction()

if(_zo_libraries)
  set(_zo_library_files "")
  foreach(_lib IN LISTS _zo_libraries)
    list(APPEND _zo_library_files "${CMAKE_INSTALL_LIBDIR}/lib${_lib}.so.${PROJECT_VERSION}")
  endforeach()
  zo_drop_runpath_under_usr(library ${_zo_library_files})
endif()

if(TARGET zoframework)
  zo_install_configured(${PROJECT_SOURCE_DIR}/packaging/pkgconfig/zoframework.pc.in
                        ${ZO_INSTALL_PKGCONFIGDIR} development)
endif()
if(TARGET ZoScsiSrvClient)
  zo_install_configured(${PROJECT_SOURCE_DIR}/packaging/pkgconfig/zoscsisrvclient.pc.in
                        ${ZO_INSTALL_PKGCONFIGDIR} development)
endif()

# The service.
if(TARGET zoscsisrv)
  install(TARGETS zoscsisrv RUNTIME DESTINATION ${CMAKE_INSTALL_SBINDIR} COMPONENT service)
  zo_drop_runpath_under_usr(service ${CMAKE_INSTALL_SBINDIR}/zoscsisrv)
  zo_install_configured(${PROJECT_SOURCE_DIR}/packaging/systemd/zoscsisrv.service.in
                        ${ZO_INSTALL_UNITDIR} service)
  zo_install_configured(${PROJECT_SOURCE_DIR}/packaging/zo.conf.sample.in
                        ${ZO_INSTALL_DOCDIR}/examples service)
  install(FILES ${PROJECT_SOURCE_DIR}/packaging/man/zoscsisrv.8
    DESTINATION ${CMAKE_INSTALL_MANDIR}/man8 COMPONENT service)
  # The user's guide, whatever docs/ holds when the install runs.
  install(DIRECTORY ${PROJECT_SOURCE_DIR}/docs/
    DESTINATION ${ZO_INSTALL_DOCDIR}
    COMPONENT service
    FILES_MATCHING PATTERN "*.md")
  install(FILES ${PROJECT_SOURCE_DIR}/README.md
    DESTINATION ${ZO_INSTALL_DOCDIR} COMPONENT service)
endif()

# The command-line tool.
if(TARGET zoscsictl)
  install(TARGETS zoscsictl RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT cli)
  zo_drop_runpath_under_usr(cli ${CMAKE_INSTALL_BINDIR}/zoscsictl)
  install(FILES ${PROJECT_SOURCE_DIR}/packaging/man/zoscsictl.1
    DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT cli)
  install(FILES ${PROJECT_SOURCE_DIR}/packaging/bash-completion/zoscsictl
    DESTINATION ${ZO_INSTALL_COMPLETIONDIR} COMPONENT cli)
endif()
