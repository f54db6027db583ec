# The program's libraries in layers, lowest first. A library may link only libraries of lower
# layers, and within one layer only those listed before it; so the graph has no cycle and no
# library reaches above itself. Configuring fails on the first link that breaks the rule.
#
#   platform   operating-system services; whole-or-nothing file writes
#   base       what the browser host offers without the web engine (counted objects, the reply
#              callback of a query, page events, the runtime log), the XML string writer, the
#              settings file, and the user's files of an application folder with the rules
#              packages follow with them
#   browser    the runtime over QtWebEngine; the command interfaces (registry, arguments, context)
#   subsystems pads, profiles, automation, desktop, update
#   bridge     the main window with its dispatcher, the router handler, the pop-up views
#   app        the application object that owns and wires everything
#   launcher   the installed program's launcher (/usr/bin/vexa), a program of its own
set(VEXA_LAYERS
  "platform:vexa_files,vexa_platform"
  "base:vexa_browser_base,vexa_xml,vexa_settings,vexa_userfiles"
  "browser:vexa_browser,vexa_commands"
  "subsystems:vexa_profile,vexa_automation,vexa_device,vexa_desktop,vexa_update"
  "bridge:vexa_bridge"
  "app:vexa_app"
  "launcher:vexa_launcher")

function(vexa_check_layers)
  set(rank 0)
  set(ordered)
  foreach(layer ${VEXA_LAYERS})
    string(REGEX REPLACE "^[^:]*:" "" members "${layer}")
    string(REPLACE "," ";" members "${members}")
    foreach(target ${members})
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
      if(NOT rank_${link} LESS rank_${target})
        message(FATAL_ERROR "${target} links ${link}, which sits above it in cmake/layers.cmake: "
                            "move the code or the dependency so that libraries only reach down")
      endif()
    endforeach()
  endforeach()
endfunction()
