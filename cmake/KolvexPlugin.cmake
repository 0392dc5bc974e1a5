# kolvex_add_plugin(<name> <source>...)
#
# Builds an effect plug-in for the Kolvex engine: a MODULE library whose
# file is "<name>-darwin.so" (no "lib" prefix), compiled against the plug-in
# interface <kolvex/plugin.h>. Works in the Kolvex build tree and, after
# find_package(Kolvex), in any other project. Install the result into the
# engine's plug-in directory yourself, e.g.
#   install(TARGETS <name> DESTINATION share/orvanta)
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
  # The engine finds plug-ins by the "-darwin.so" in their file name.
  set_target_properties(${name} PROPERTIES
    PREFIX ""
    OUTPUT_NAME "${name}-darwin"
    SUFFIX ".so"
    POSITION_INDEPENDENT_CODE ON)
endfunction()
