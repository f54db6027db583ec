# Pages from outside the application folder against the real program; types keys, so it runs on
# a private X server of its own.
if(NOT WIN32)
  find_package(X11 REQUIRED)
  vexa_e2e_test(hostile CLASS tst_E2eHostile SOURCES private_display.h LIBS X11::X11 X11::Xtst)
endif()
