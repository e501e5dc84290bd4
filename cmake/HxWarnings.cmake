# Warnings are errors for everything we build; one place decides the set.
set(HX_WARNING_FLAGS -Wall -Wextra -Wpedantic -Werror -Wshadow -Wcast-align -Wformat=2 -Wimplicit-fallthrough)
set(HX_CXX_WARNING_FLAGS -Wnon-virtual-dtor -Woverloaded-virtual)

function(hx_warnings target)
  target_compile_options(${target} PRIVATE ${HX_WARNING_FLAGS} $<$<COMPILE_LANGUAGE:CXX>:${HX_CXX_WARNING_FLAGS}>)
endfunction()
