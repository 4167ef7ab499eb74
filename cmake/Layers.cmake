# The logger's modules as one static library per directory of src/, each
# allowed to see only the layers below it:
#
#   app -> engine -> {serial, config, decode, output} -> core
#
# app may use every layer below it, engine the four middle ones and core,
# the middle ones only core, and core nothing. serial, config, decode and
# output never see each other.
#
# The rule is enforced by the include path, not by convention: headers are
# included as "<layer>/<file>.h", and each library's include directory is a
# directory of its own in the build tree holding a link to its own layer
# only. A library gets the include directories of the libraries it links
# (PUBLIC), so it sees exactly the layers below it; an include of any other
# layer fails with "No such file or directory". tests/layers checks that.

set(KELVIN_LAYERS core serial config decode output engine app)

set(KELVIN_LAYER_DEPS_core)
set(KELVIN_LAYER_DEPS_serial core)
set(KELVIN_LAYER_DEPS_config core)
set(KELVIN_LAYER_DEPS_decode core)
set(KELVIN_LAYER_DEPS_output core)
set(KELVIN_LAYER_DEPS_engine serial config decode output core)
set(KELVIN_LAYER_DEPS_app engine serial config output core)

set(KELVIN_LAYER_SOURCES_core
  poll_context.cpp text.cpp file_name.cpp fatal.cpp trace.cpp clock.cpp regular_file.cpp)
set(KELVIN_LAYER_SOURCES_serial serial_port.cpp protocol.cpp)
set(KELVIN_LAYER_SOURCES_config config_file.cpp lookup.cpp)
set(KELVIN_LAYER_SOURCES_decode frame.cpp temperature.cpp module.cpp s0.cpp)
set(KELVIN_LAYER_SOURCES_output paths.cpp files.cpp logs.cpp write_errors.cpp notify.cpp)
set(KELVIN_LAYER_SOURCES_engine main_loop.cpp device_table.cpp poll.cpp data_line.cpp s0_line.cpp)
# main.cpp stays out, so that tests link every module but the entry point.
set(KELVIN_LAYER_SOURCES_app options.cpp startup.cpp guard.cpp descriptors.cpp)

# Defines the libraries <prefix>core ... <prefix>app from the sources below
# `src_root` (the logger's src/), with their include directories under
# <current binary dir>/layers.
function(kelvin_add_layers prefix src_root)
  foreach(layer IN LISTS KELVIN_LAYERS)
    set(include_root ${CMAKE_CURRENT_BINARY_DIR}/layers/${layer})
    file(MAKE_DIRECTORY ${include_root})
    file(CREATE_LINK ${src_root}/${layer} ${include_root}/${layer} SYMBOLIC)
    list(TRANSFORM KELVIN_LAYER_SOURCES_${layer} PREPEND ${src_root}/${layer}/ OUTPUT_VARIABLE sources)
    add_library(${prefix}${layer} STATIC ${sources})
    target_include_directories(${prefix}${layer} PUBLIC ${include_root})
    foreach(dep IN LISTS KELVIN_LAYER_DEPS_${layer})
      target_link_libraries(${prefix}${layer} PUBLIC ${prefix}${dep})
    endforeach()
  endforeach()
endfunction()
