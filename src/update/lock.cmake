# The lock vexa holds while it runs, which the installer (tools/updater) waits for. The installer
# compiles the same sources; it finds them in the global property VEXA_RUNNING_LOCK_SOURCES.
set(running_lock_sources ${CMAKE_CURRENT_SOURCE_DIR}/running_lock.h ${CMAKE_CURRENT_SOURCE_DIR}/running_lock.cpp)
if(WIN32)
  list(APPEND running_lock_sources ${CMAKE_CURRENT_SOURCE_DIR}/running_lock_win.cpp)
else()
  list(APPEND running_lock_sources ${CMAKE_CURRENT_SOURCE_DIR}/running_lock_posix.cpp)
endif()
set_property(GLOBAL PROPERTY VEXA_RUNNING_LOCK_SOURCES ${running_lock_sources})
target_sources(vexa_update PRIVATE ${running_lock_sources})
