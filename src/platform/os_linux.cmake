# Linux backends. Autostart (XDG), the process list (/proc) and termination signals work in any
# session; the desktop features go through a backend picked at run time: X11 on an X session,
# none elsewhere (desktop_backend_linux.cpp).
find_package(X11 REQUIRED)
find_package(Qt5 5.15 REQUIRED COMPONENTS X11Extras)
# Hot keys are grabbed on Qt's own xcb connection.
find_library(VEXA_XCB_LIBRARY xcb REQUIRED)

# Fatal signals leave a minidump written by our own writer (Debian has no Breakpad). It writes
# x86-64 registers and stacks only; other processors get a handler that declines to install.
if(VEXA_CRASH_DUMPS)
  target_sources(vexa_platform PRIVATE
    crash_handler_linux.cpp
    # What the crash path may call: async-signal-safe helpers, and the other threads' capture.
    private/crash_signal_safe.h
    crash_signal_safe_linux.cpp
    private/crash_threads_linux.h
    crash_threads_linux.cpp
    private/minidump_format.h
    private/minidump_writer_linux.h
    minidump_writer_linux.cpp)
else()
  target_sources(vexa_platform PRIVATE crash_handler_none.cpp)
endif()

target_sources(vexa_platform PRIVATE
  autostart_linux.cpp
  process_list_linux.cpp
  program_locations_linux.cpp
  termination_signals_posix.cpp
  regular_file_posix.cpp
  user_namespaces_linux.cpp
  mouse_settings_linux.cpp
  window_ops_linux.cpp
  private/desktop_backend.h
  desktop_backend_linux.cpp
  # The X11 backend, one part per feature.
  private/x11_backend.h
  private/x11_private.h
  global_hotkeys_x11.cpp
  key_capture_x11.cpp
  x11_scan_codes.h
  x11_scan_codes.cpp
  mouse_settings_x11.cpp
  window_ops_x11.cpp
  window_search_x11.cpp)
# Xtst carries the RECORD extension of the key capture; libdl loads GIO for the double-click time.
target_link_libraries(vexa_platform PRIVATE X11::X11 X11::Xtst Qt5::X11Extras ${VEXA_XCB_LIBRARY} ${CMAKE_DL_LIBS})

# The sleep inhibitor asks systemd-logind over the system bus.
find_package(Qt5 5.15 REQUIRED COMPONENTS DBus)
target_sources(vexa_platform PRIVATE sleep_inhibitor_linux.cpp)
target_link_libraries(vexa_platform PRIVATE Qt5::DBus)
