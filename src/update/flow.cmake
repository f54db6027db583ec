# The update flow: package downloads and the installer launch at exit.
target_sources(vexa_update PRIVATE
  update_log.h update_log.cpp
  pspecific_wnd.h pspecific_wnd.cpp)
target_link_libraries(vexa_update PUBLIC vexa_browser_base)
