# What `cmake --install` puts where, in three components that become the Debian packages:
#   runtime  libhalvex.so.MAJOR (and its full-version file) and the packing library
#   dev      the public header, the unversioned libhalvex.so link, the CMake package and halvex.pc
#   tools    hxcam, hxsim and hxview with their manual pages, and the user documentation
# Targets are named here, not where they are built, so the source layout can change freely.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

# The soname follows the interface version: a host built against 2.x keeps loading any 2.y. The
# header and the project must agree on that major version, or the soname would lie.
file(STRINGS ${PROJECT_SOURCE_DIR}/include/hx/hx.h hx_header_major REGEX "^#define HX_API_VERSION_MAJ ")
string(REGEX REPLACE "^#define HX_API_VERSION_MAJ +([0-9]+).*" "\\1" hx_header_major "${hx_header_major}")
if(NOT hx_header_major STREQUAL PROJECT_VERSION_MAJOR)
  message(FATAL_ERROR "include/hx/hx.h says interface ${hx_header_major}.x but the project is version "
                      "${PROJECT_VERSION}; the library's soname follows the project's major version")
endif()

set(HX_CMAKE_PACKAGE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/halvex)

# Installed programs and the library find what they load relative to where they are, so an install
# into any prefix works without LD_LIBRARY_PATH; libhalvex.so's RUNPATH also serves its dlopen of
# the packing library, which lies beside it.
file(RELATIVE_PATH hx_bin_to_lib ${CMAKE_INSTALL_FULL_BINDIR} ${CMAKE_INSTALL_FULL_LIBDIR})

if(TARGET halvex)
  set_target_properties(halvex PROPERTIES
    VERSION ${PROJECT_VERSION}
    SOVERSION ${PROJECT_VERSION_MAJOR}
    INSTALL_RPATH "$ORIGIN")
  # On Windows the DLL is a run-time artefact (beside the programs, in bin) and its import library
  # an archive (libhalvex.dll.a, in lib); the soname properties mean nothing there.
  install(TARGETS halvex EXPORT halvexTargets
    LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT runtime NAMELINK_COMPONENT dev
    RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT runtime
    ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT dev
    INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
  install(FILES ${PROJECT_SOURCE_DIR}/include/hx/hx.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/hx COMPONENT dev)
  if(WIN32)
    # Visual Studio's import library and the module-definition file it is made from, beside the
    # MinGW one.
    install(FILES ${HX_MSVC_IMPORT_LIBRARY} ${HX_DEF_FILE} DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT dev)
  endif()

  install(EXPORT halvexTargets NAMESPACE halvex:: DESTINATION ${HX_CMAKE_PACKAGE_DIR} COMPONENT dev)
  configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/halvexConfig.cmake.in
    ${PROJECT_BINARY_DIR}/package/halvexConfig.cmake INSTALL_DESTINATION ${HX_CMAKE_PACKAGE_DIR})
  write_basic_package_version_file(${PROJECT_BINARY_DIR}/package/halvexConfigVersion.cmake
    VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
  install(FILES ${PROJECT_BINARY_DIR}/package/halvexConfig.cmake ${PROJECT_BINARY_DIR}/package/halvexConfigVersion.cmake
    DESTINATION ${HX_CMAKE_PACKAGE_DIR} COMPONENT dev)

  # halvex.pc names its prefix relative to its own folder, so it is right for `--prefix` given at
  # install time and for the packages alike.
  file(RELATIVE_PATH hx_pc_to_prefix ${CMAKE_INSTALL_FULL_LIBDIR}/pkgconfig ${CMAKE_INSTALL_PREFIX})
  string(REGEX REPLACE "/$" "" hx_pc_to_prefix "${hx_pc_to_prefix}")
  configure_file(${CMAKE_CURRENT_LIST_DIR}/halvex.pc.in ${PROJECT_BINARY_DIR}/package/halvex.pc @ONLY)
  install(FILES ${PROJECT_BINARY_DIR}/package/halvex.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT dev)
endif()

# The library opens the packing library by its plain name (libhlv_internal.so) at run time, so it is
# installed under that name, unversioned, with the runtime.
if(TARGET hlv_internal)
  # On Windows halvex.dll loads it from its own folder, so it goes beside it.
  install(TARGETS hlv_internal LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT runtime
                               RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT runtime
                               ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT dev)
endif()

foreach(tool hxcam hxsim hxview)
  if(TARGET ${tool})
    set_target_properties(${tool} PROPERTIES INSTALL_RPATH "$ORIGIN/${hx_bin_to_lib}")
    install(TARGETS ${tool} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT tools)
  endif()
endforeach()

# Manual pages are the tools' own --help, through help2man. Sanitized builds are never installed,
# and running their tools at build time would only add sanitizer noise, so they skip this.
find_program(HX_HELP2MAN help2man)
# Windows programs are not run at build time, so the Windows build has none.
if(HX_HELP2MAN AND HX_SANITIZE STREQUAL "" AND NOT WIN32 AND TARGET hxcam AND TARGET hxsim)
  set(hx_man_hxcam "control networked high-speed cameras from the command line")
  set(hx_man_hxsim "stand-in networked high-speed cameras for tests and demonstrations")
  set(hx_man_hxview "view and control networked high-speed cameras in a web browser")
  set(hx_manpages)
  set(hx_man_tools hxcam hxsim)
  if(TARGET hxview)
    list(APPEND hx_man_tools hxview)
  endif()
  foreach(tool ${hx_man_tools})
    set(page ${PROJECT_BINARY_DIR}/man/${tool}.1)
    add_custom_command(OUTPUT ${page}.gz
      COMMAND ${CMAKE_COMMAND} -E make_directory ${PROJECT_BINARY_DIR}/man
      COMMAND ${HX_HELP2MAN} --no-info --section=1 --version-string=${PROJECT_VERSION}
              "--name=${hx_man_${tool}}" --output=${page} $<TARGET_FILE:${tool}>
      COMMAND gzip -9nf ${page}
      DEPENDS ${tool}
      COMMENT "Manual page for ${tool} from its --help"
      VERBATIM)
    list(APPEND hx_manpages ${page}.gz)
  endforeach()
  add_custom_target(hx_manpages ALL DEPENDS ${hx_manpages})
  install(FILES ${hx_manpages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT tools)
elseif(HX_SANITIZE STREQUAL "" AND NOT WIN32)
  message(STATUS "help2man not found: no manual pages for the tools (scripts/deps installs it)")
endif()

# Documentation: the programming guides with the development files, the tools' guides with the tools.
install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/docs/getting-started.md
              ${PROJECT_SOURCE_DIR}/docs/api-guide.md ${PROJECT_SOURCE_DIR}/docs/packing.md
        DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT dev)
install(FILES ${PROJECT_SOURCE_DIR}/docs/cli.md ${PROJECT_SOURCE_DIR}/docs/simulator.md
        DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT tools)
if(TARGET hxview)
  install(FILES ${PROJECT_SOURCE_DIR}/docs/viewer.md DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT tools)
  # Every picture the guide shows, so that it reads whole where it is installed.
  set(hx_viewer_images cameras download live overlay region review zoom)
  list(TRANSFORM hx_viewer_images REPLACE "^(.+)$" "${PROJECT_SOURCE_DIR}/docs/images/viewer-\\1.png")
  install(FILES ${hx_viewer_images} DESTINATION ${CMAKE_INSTALL_DOCDIR}/images COMPONENT tools)
endif()

# Debian packages from a Linux build, the zip archive from a Windows one.
if(WIN32)
  include(HxWindowsPackage)
else()
  include(HxPackage)
endif()
