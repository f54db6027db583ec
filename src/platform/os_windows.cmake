# Windows backends written so far. Not written yet, and so not listed: termination signals,
# mouse settings, the process list, the sleep inhibitor, regular-file reads, window placement, global hot keys, key
# capture and the window list (windowSystem() is not defined there: each feature will have its one backend). A
# Windows build links once those exist.
target_sources(vexa_platform PRIVATE
  autostart_win.cpp
  program_locations_win.cpp)
