# kolvex_add_plugin(<name> <source>...)
#
# Builds an effect plug-in for the Kolvex engine: a MODULE library whose
# file is "<name>-darwin.so" (no "lib" prefix), compiled against the plug-in
# interface <kolvex/plugin.h>; the sources must include that header, which
# gives the entry points C linkage and makes them visible. Works in the
# Kolvex build tree and, after find_package(Kolvex), in any other project.
# Install the result into the engine's plug-in directory yourself, e.g.
#   install(TARGETS <name> LIBRARY DESTINATION ${CMAKE_INSTALL_DATADIR}/orvanta)
include_guard(GLOBAL)

function(kolvex_add_plugin name)
  if(NOT ARGN)
    message(FATAL_ERROR "kolvex_add_plugin(${name}): no sources given")
  endif()
  if(NOT TARGET Kolvex::plugin_sdk)
    message(FATAL_ERROR "kolvex_add_plugin(${name}): Kolvex::plugin_sdk is missing; "
                        "call find_package(Kolvex) first")
  endif()
  add_library(${name} MODULE ${ARGN})
  target_link_libraries(${name} PRIVATE Kolvex::plugin_sdk)
  # The engine finds plug-ins by the "-darwin.so" in their file name. Only
  # the entry points declared in <kolvex/plugin.h> are exported, so helpers
  # of two plug-ins never bind to each other.
  set_target_properties(${name} PROPERTIES
    PREFIX ""
    OUTPUT_NAME "${name}-darwin"
    SUFFIX ".so"
    POSITION_INDEPENDENT_CODE ON
    C_VISIBILITY_PRESET hidden
    CXX_VISIBILITY_PRESET hidden)
endfunction()
