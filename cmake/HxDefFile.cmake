# Writes the module-definition file of halvex.dll: every HX_* and CS_HX_* function the public
# header declares, and nothing else, which is what the DLL exports (scripts/check-dll-exports
# holds the two to each other). Import libraries for other toolchains are made from it.
#   cmake -DHEADER=hx.h -DDLL=halvex.dll -DOUTPUT=halvex.def -P HxDefFile.cmake
file(STRINGS ${HEADER} declarations REGEX "^HX_API [^(]*[ *](CS_)?HX_[A-Za-z0-9_]+\\(")
set(names "")
foreach(line IN LISTS declarations)
  string(REGEX MATCH "(CS_)?HX_[A-Za-z0-9_]+\\(" name "${line}")
  string(REGEX REPLACE "\\($" "" name "${name}")
  list(APPEND names ${name})
endforeach()
list(REMOVE_DUPLICATES names)
list(SORT names)
list(LENGTH names count)
if(count EQUAL 0)
  message(FATAL_ERROR "HxDefFile: no HX_API function found in ${HEADER}")
endif()
list(JOIN names "\n    " body)
file(WRITE ${OUTPUT}.new "LIBRARY ${DLL}\nEXPORTS\n    ${body}\n")
file(COPY_FILE ${OUTPUT}.new ${OUTPUT} ONLY_IF_DIFFERENT)
file(REMOVE ${OUTPUT}.new)
