# The update flow: the check against the vendor service, package downloads, the update dialog
# with the page installation, the installer launch at exit, and the page's "checkUpdate" command.
target_sources(vexa_update PRIVATE
  update_log.h update_log.cpp
  pspecific_wnd.h pspecific_wnd.cpp
  update_kinds.h
  update_texts.h update_texts.cpp
  update_dlg.h update_dlg.cpp update_dlg_window.cpp update_dlg_install.cpp
  page_install.h page_install.cpp
  install_records.h install_records.cpp
  updatesystem.h updatesystem.cpp
  update_commands.h update_commands.cpp)
target_link_libraries(vexa_update PUBLIC vexa_settings vexa_browser_base)
