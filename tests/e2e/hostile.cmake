# Pages from outside the application folder against the real program; types keys, so it runs on
# a private X server of its own.
if(NOT WIN32)
  find_package(X11 REQUIRED)
  if(NOT TARGET vexa_test_service)
    add_subdirectory(${CMAKE_SOURCE_DIR}/tests/support ${CMAKE_BINARY_DIR}/tests/support)
  endif()
  vexa_e2e_test(hostile CLASS tst_E2eHostile SOURCES private_display.h LIBS X11::X11 X11::Xtst vexa_test_service)
endif()
