# The dependencies of the Windows build, none of which Debian ships built for MinGW: fmt used
# header-only, jsoncpp compiled from Debian's source package (scripts/deps unpacks it under
# /usr/local/src), GoogleTest compiled from Debian's googletest sources. Each gets the target
# name the Linux build finds, so the rest of the tree does not tell the two apart.
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

set(gtest_force_shared_crt OFF CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
