# The Windows archive, halvex-<version>-win64.zip, from `cpack` in the windows preset's build
# folder (cpack --config CPackConfig.cmake). It unpacks into one folder:
#   bin/       halvex.dll, libhlv_internal.dll, hxcam.exe, hxsim.exe, hxview.exe
#   lib/       halvex.lib (Visual Studio), libhalvex.dll.a (MinGW), halvex.def, cmake/halvex/
#   include/   hx/hx.h
#   examples/  a first host in C and a CMake project that finds the package
#   share/doc/halvex/   the guides, windows.md among them
#   README-windows.txt
# The programs and DLLs carry the MinGW run time inside, so nothing else needs installing.
install(FILES ${PROJECT_SOURCE_DIR}/examples/windows/first_host.c ${PROJECT_SOURCE_DIR}/examples/windows/CMakeLists.txt
              ${PROJECT_SOURCE_DIR}/examples/two_clients.c
        DESTINATION examples COMPONENT dev)
install(FILES ${PROJECT_SOURCE_DIR}/docs/README-windows.txt DESTINATION . COMPONENT dev)
install(FILES ${PROJECT_SOURCE_DIR}/docs/windows.md DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT dev)

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME halvex)
set(CPACK_PACKAGE_VENDOR "halvex developers")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_FILE_NAME halvex-${PROJECT_VERSION}-win64)
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR}/packages)
# The release build carries debug information; the archive does without it.
set(CPACK_STRIP_FILES ON)
include(CPack)
