# Debian packages from the install components (cmake/HxInstall.cmake), built with `cpack -G DEB`
# in a build folder:
#   libhalvex2     runtime: libhalvex.so.2 and the packing library
#   libhalvex-dev  header, libhalvex.so link, CMake package and halvex.pc
#   halvex-tools   hxcam, hxsim and hxview with their manual pages
#   python3-halvex the Python package, over the system's libhalvex2
# Packages install under /usr whatever prefix the build was configured with.
set(CPACK_PACKAGE_NAME halvex)
set(CPACK_PACKAGE_VENDOR "halvex developers")
set(CPACK_PACKAGE_CONTACT "halvex developers <halvex@localhost>")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR}/packages)
set(CPACK_STRIP_FILES ON)

set(CPACK_COMPONENTS_ALL runtime dev tools python)
set(CPACK_COMPONENT_DEV_DEPENDS runtime)
set(CPACK_COMPONENT_TOOLS_DEPENDS runtime)
set(CPACK_COMPONENT_PYTHON_DEPENDS runtime)

set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_ENABLE_COMPONENT_DEPENDS ON)
set(CPACK_DEBIAN_PACKAGE_SECTION libs)

set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME libhalvex${PROJECT_VERSION_MAJOR})
set(CPACK_DEBIAN_RUNTIME_DESCRIPTION "control of networked high-speed cameras (shared library)
libhalvex finds cameras on the local IPv4 networks, changes their settings, commands
them and receives their images, through a C interface. The packing library it loads
at run time comes with it.")
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")

set(CPACK_DEBIAN_DEV_PACKAGE_NAME libhalvex-dev)
set(CPACK_DEBIAN_DEV_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_DEV_DESCRIPTION "control of networked high-speed cameras (development files)
The C header <hx/hx.h>, the CMake package (find_package(halvex)) and the
pkg-config file (halvex.pc) for building hosts against libhalvex.")

set(CPACK_DEBIAN_TOOLS_PACKAGE_NAME halvex-tools)
set(CPACK_DEBIAN_TOOLS_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_TOOLS_DESCRIPTION "control of networked high-speed cameras (command-line tools)
hxcam lists, configures, commands and records cameras and writes their images as
TIFF files; hxview shows and controls them in a web browser; hxsim runs stand-in
cameras to try them without hardware.")
set(CPACK_DEBIAN_TOOLS_PACKAGE_SHLIBDEPS ON)

set(CPACK_DEBIAN_PYTHON_PACKAGE_NAME python3-halvex)
set(CPACK_DEBIAN_PYTHON_PACKAGE_SECTION python)
set(CPACK_DEBIAN_PYTHON_PACKAGE_ARCHITECTURE all)
set(CPACK_DEBIAN_PYTHON_PACKAGE_DEPENDS "python3 (>= 3.9), python3-numpy")
set(CPACK_DEBIAN_PYTHON_DESCRIPTION "control of networked high-speed cameras (Python 3)
The halvex package: cameras, their settings, commands and recordings, and their
images as NumPy arrays, through the system's libhalvex. The library's log goes
to Python's logging.")

# hxcam and hxview need libhalvex.so.2, which the runtime package provides: dpkg-shlibdeps finds it in the
# build tree, and the component dependency above names the package.
if(TARGET halvex)
  get_target_property(hx_library_dir halvex BINARY_DIR)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${hx_library_dir})
endif()

include(CPack)
