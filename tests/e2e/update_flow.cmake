# The update on the real program: nginx stands in for the vendor service, xdotool clicks the
# update window's button on DISPLAY.
if(NOT TARGET vexa_test_service)
  add_subdirectory(${CMAKE_SOURCE_DIR}/tests/support ${CMAKE_BINARY_DIR}/tests/support)
endif()
vexa_e2e_test(update CLASS tst_E2eUpdate LIBS vexa_update_writer vexa_test_service)
