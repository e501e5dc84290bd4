# Warnings are errors for everything we build; one place decides the set.
function(hx_warnings target)
  target_compile_options(${target} PRIVATE
    -Wall -Wextra -Wpedantic -Werror
    $<$<COMPILE_LANGUAGE:CXX>:-Wnon-virtual-dtor -Woverloaded-virtual>
    -Wshadow -Wcast-align -Wformat=2 -Wimplicit-fallthrough)
endfunction()
