# The program's libraries in layers, lowest first; the folders of src/ are the same layers. A
# library may link only libraries of lower layers, and within one layer only those listed before
# it, except in the subsystems layer, whose libraries link none of each other: what joins two
# subsystems is wiring, and wiring is the application's. Configuring fails on the first link that
# breaks the rule.
#
#   platform   src/platform       operating-system services; whole-or-nothing file writes; starting
#                                 the programs the application hands over to
#   base       src/base/          what the browser host offers without the web engine (counted
#                                 objects, the reply callback of a query, page events, the runtime
#                                 log: host/), the XML string writer (xml/), the settings file
#                                 (settings/), and the user's files of an application folder with
#                                 the rules packages follow with them (userfiles/)
#   browser    src/browser,       the runtime over QtWebEngine; the command interfaces (registry,
#              src/commands       arguments, context)
#   subsystems src/profile, src/automation, src/device, src/desktop, src/update
#   bridge     src/bridge         the main window with its dispatcher, the router handler, the
#                                 pop-up views
#   app        src/app            the application object that owns and wires everything
#   launcher   src/launcher       the installed program's launcher (/usr/bin/vexa), a program of
#                                 its own
set(VEXA_LAYERS
  "platform:vexa_files,vexa_process,vexa_platform,vexa_thread_start_hook"
  "base:vexa_browser_base,vexa_xml,vexa_settings,vexa_userfiles"
  "browser:vexa_browser,vexa_commands"
  "subsystems:vexa_profile,vexa_automation,vexa_device,vexa_desktop,vexa_update"
  "bridge:vexa_bridge"
  "app:vexa_app"
  "launcher:vexa_launcher")
# Layers whose libraries may not link each other at all.
set(VEXA_UNLINKED_LAYERS subsystems)

function(vexa_check_layers)
  set(rank 0)
  set(ordered)
  foreach(layer ${VEXA_LAYERS})
    string(REGEX REPLACE ":.*$" "" layer_name "${layer}")
    string(REGEX REPLACE "^[^:]*:" "" members "${layer}")
    string(REPLACE "," ";" members "${members}")
    foreach(target ${members})
      set(layer_${target} ${layer_name})
      set(rank_${target} ${rank})
      math(EXPR rank "${rank} + 1")
      list(APPEND ordered ${target})
    endforeach()
  endforeach()
  foreach(target ${ordered})
    if(NOT TARGET ${target})
      continue()
    endif()
    get_target_property(type ${target} TYPE)
    if(type STREQUAL "INTERFACE_LIBRARY")
      get_target_property(links ${target} INTERFACE_LINK_LIBRARIES)
    else()
      get_target_property(links ${target} LINK_LIBRARIES)
    endif()
    if(NOT links)
      continue()
    endif()
    foreach(link ${links})
      if(NOT link MATCHES "^vexa_")
        continue()
      endif()
      if(NOT DEFINED rank_${link})
        message(FATAL_ERROR "${target} links ${link}, which has no place in the layers of cmake/layers.cmake")
      endif()
      if(layer_${link} STREQUAL layer_${target} AND layer_${target} IN_LIST VEXA_UNLINKED_LAYERS)
        message(FATAL_ERROR "${target} links ${link}, another library of the ${layer_${target}} layer: "
                            "the libraries of that layer stand apart; join them in the application")
      endif()
      if(NOT rank_${link} LESS rank_${target})
        message(FATAL_ERROR "${target} links ${link}, which sits above it in cmake/layers.cmake: "
                            "move the code or the dependency so that libraries only reach down")
      endif()
    endforeach()
  endforeach()
endfunction()
