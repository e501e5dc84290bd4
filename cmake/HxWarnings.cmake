# One place decides the warning set. Warnings are errors only where we develop (HX_WERROR, on in
# the dev, sanitizer and Windows presets and in CI): packagers build with their own flags and
# compilers, and a new warning there must not stop their build.
option(HX_WERROR "Treat compiler warnings as errors" OFF)
set(HX_WARNING_FLAGS -Wall -Wextra -Wpedantic)
if(HX_WERROR)
  list(APPEND HX_WARNING_FLAGS -Werror)
endif()
list(APPEND HX_WARNING_FLAGS -Wshadow -Wcast-align -Wformat=2 -Wimplicit-fallthrough)
set(HX_CXX_WARNING_FLAGS -Wnon-virtual-dtor -Woverloaded-virtual)

function(hx_warnings target)
  target_compile_options(${target} PRIVATE ${HX_WARNING_FLAGS} $<$<COMPILE_LANGUAGE:CXX>:${HX_CXX_WARNING_FLAGS}>)
endfunction()
