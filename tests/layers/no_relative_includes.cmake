# Fails when a file of src/ includes a header by a path that climbs out of its
# directory ("../engine/x.h") or by an absolute path: such an include would
# get past the include directories that keep the layers apart.
file(GLOB_RECURSE sources ${SRC}/*.h ${SRC}/*.cpp)
set(found)
foreach(source IN LISTS sources)
  file(STRINGS ${source} lines REGEX "^[ \t]*#[ \t]*include[ \t]*[\"<](\\.\\./|/|[^\">]*/\\.\\./)")
  foreach(line IN LISTS lines)
    list(APPEND found "${source}: ${line}")
  endforeach()
endforeach()
if(found)
  string(REPLACE ";" "\n" found "${found}")
  message(FATAL_ERROR "includes that leave the layer's include path:\n${found}")
endif()
