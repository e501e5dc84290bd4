# The dependencies of the Windows build: fmt used header-only; jsoncpp and libtiff compiled, and
# cpp-httplib used header-only, from Debian's source packages (scripts/deps unpacks them under
# /usr/local/src); GoogleTest compiled from Debian's googletest sources; zlib as Debian builds it
# for MinGW (libz-mingw-w64-dev). Each gets the target name the Linux build finds, so the rest of
# the tree does not tell the two apart.
set(HX_WINDOWS_HEADERS ${CMAKE_BINARY_DIR}/windows_headers)
file(MAKE_DIRECTORY ${HX_WINDOWS_HEADERS})
# Only these folders of /usr/include: the rest are the Linux system's headers.
file(CREATE_LINK /usr/include/fmt ${HX_WINDOWS_HEADERS}/fmt SYMBOLIC)

add_library(hx_fmt INTERFACE)
target_include_directories(hx_fmt SYSTEM INTERFACE ${HX_WINDOWS_HEADERS})
target_compile_definitions(hx_fmt INTERFACE FMT_HEADER_ONLY)
add_library(fmt::fmt ALIAS hx_fmt)

file(GLOB HX_JSONCPP_SOURCE_DIRS LIST_DIRECTORIES true /usr/local/src/libjsoncpp-*)
list(SORT HX_JSONCPP_SOURCE_DIRS)
list(POP_BACK HX_JSONCPP_SOURCE_DIRS HX_JSONCPP_SOURCE_DIR)
if(NOT HX_JSONCPP_SOURCE_DIR OR NOT EXISTS ${HX_JSONCPP_SOURCE_DIR}/src/lib_json/json_value.cpp)
  message(FATAL_ERROR "jsoncpp's source is not under /usr/local/src/libjsoncpp-*: run scripts/deps")
endif()
add_library(hx_jsoncpp STATIC ${HX_JSONCPP_SOURCE_DIR}/src/lib_json/json_reader.cpp
                              ${HX_JSONCPP_SOURCE_DIR}/src/lib_json/json_value.cpp
                              ${HX_JSONCPP_SOURCE_DIR}/src/lib_json/json_writer.cpp)
target_include_directories(hx_jsoncpp SYSTEM PUBLIC ${HX_JSONCPP_SOURCE_DIR}/include)
target_include_directories(hx_jsoncpp PRIVATE ${HX_JSONCPP_SOURCE_DIR}/src/lib_json)
add_library(PkgConfig::JSONCPP ALIAS hx_jsoncpp)

# libtiff for hxcam's frame files: a static library with its own build, since its configuration
# header comes from that build. Only what hxcam writes (uncompressed strips) is needed, so every
# codec that would want another library is left out, and so are its tools, tests and manuals.
file(GLOB HX_TIFF_SOURCE_DIRS LIST_DIRECTORIES true /usr/local/src/tiff-*)
list(FILTER HX_TIFF_SOURCE_DIRS INCLUDE REGEX "/tiff-[0-9.]+$")
list(SORT HX_TIFF_SOURCE_DIRS)
list(POP_BACK HX_TIFF_SOURCE_DIRS HX_TIFF_SOURCE_DIR)
if(NOT HX_TIFF_SOURCE_DIR OR NOT EXISTS ${HX_TIFF_SOURCE_DIR}/libtiff/tiffio.h)
  message(FATAL_ERROR "libtiff's source is not under /usr/local/src/tiff-*: run scripts/deps")
endif()
include(ExternalProject)
set(HX_TIFF_PREFIX ${CMAKE_BINARY_DIR}/libtiff)
set(HX_TIFF_LIBRARY ${HX_TIFF_PREFIX}/lib/libtiff.a)
ExternalProject_Add(
  hx_tiff_build
  SOURCE_DIR ${HX_TIFF_SOURCE_DIR}
  BINARY_DIR ${HX_TIFF_PREFIX}/build
  INSTALL_DIR ${HX_TIFF_PREFIX}
  CMAKE_ARGS -DCMAKE_TOOLCHAIN_FILE=${CMAKE_TOOLCHAIN_FILE} -DCMAKE_BUILD_TYPE=Release
             -DCMAKE_INSTALL_PREFIX=<INSTALL_DIR> -DCMAKE_INSTALL_LIBDIR=lib -DBUILD_SHARED_LIBS=OFF
             -DCMAKE_C_COMPILER_LAUNCHER=${CMAKE_C_COMPILER_LAUNCHER} -Dtiff-tools=OFF -Dtiff-tests=OFF
             -Dtiff-contrib=OFF -Dtiff-docs=OFF -Dcxx=OFF -Dzlib=OFF -Dlibdeflate=OFF -Dpixarlog=OFF
             -Djpeg=OFF -Dold-jpeg=OFF -Djbig=OFF -Dlerc=OFF -Dlzma=OFF -Dzstd=OFF -Dwebp=OFF
             -Dtiff-opengl=OFF -Dsphinx=OFF
  BUILD_BYPRODUCTS ${HX_TIFF_LIBRARY})
file(MAKE_DIRECTORY ${HX_TIFF_PREFIX}/include)
add_library(hx_tiff STATIC IMPORTED GLOBAL)
set_target_properties(hx_tiff PROPERTIES IMPORTED_LOCATION ${HX_TIFF_LIBRARY}
                                         INTERFACE_INCLUDE_DIRECTORIES ${HX_TIFF_PREFIX}/include)
add_dependencies(hx_tiff hx_tiff_build)
add_library(TIFF::TIFF ALIAS hx_tiff)

# The viewer's web server. Debian's Linux package splits cpp-httplib into a header and a shared
# library; its source package has the whole server in the one header, so nothing is compiled apart.
# On Windows the header speaks Winsock (WSAPoll wants _WIN32_WINNT 0x0600 or later, which MinGW's
# default of 0x0A00 is) and names its import library only in a pragma that MinGW ignores.
file(GLOB HX_HTTPLIB_SOURCE_DIRS LIST_DIRECTORIES true /usr/local/src/cpp-httplib-*)
list(FILTER HX_HTTPLIB_SOURCE_DIRS INCLUDE REGEX "/cpp-httplib-[0-9][^/]*$")
list(SORT HX_HTTPLIB_SOURCE_DIRS)
list(POP_BACK HX_HTTPLIB_SOURCE_DIRS HX_HTTPLIB_SOURCE_DIR)
if(NOT HX_HTTPLIB_SOURCE_DIR OR NOT EXISTS ${HX_HTTPLIB_SOURCE_DIR}/httplib.h)
  message(FATAL_ERROR "cpp-httplib's source is not under /usr/local/src/cpp-httplib-*: run scripts/deps")
endif()
file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/httplib_header)
file(CREATE_LINK ${HX_HTTPLIB_SOURCE_DIR}/httplib.h ${CMAKE_BINARY_DIR}/httplib_header/httplib.h SYMBOLIC)
add_library(hx_httplib INTERFACE)
target_include_directories(hx_httplib SYSTEM INTERFACE ${CMAKE_BINARY_DIR}/httplib_header)
target_link_libraries(hx_httplib INTERFACE ws2_32)
add_library(PkgConfig::HTTPLIB ALIAS hx_httplib)

# zlib (the viewer's ZIP checksums), linked statically so that no zlib1.dll has to go beside the
# viewer.
find_library(HX_ZLIB_STATIC NAMES libz.a)
if(NOT HX_ZLIB_STATIC)
  message(FATAL_ERROR "zlib for MinGW is missing (Debian: libz-mingw-w64-dev): run scripts/deps")
endif()
add_library(hx_zlib STATIC IMPORTED GLOBAL)
set_target_properties(hx_zlib PROPERTIES IMPORTED_LOCATION ${HX_ZLIB_STATIC})
add_library(PkgConfig::ZLIBPC ALIAS hx_zlib)

set(gtest_force_shared_crt OFF CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
