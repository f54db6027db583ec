# The update flow on real servers: package downloads, the check and its dialog, the page
# installation and the installer start, each in application folders of their own.
if(NOT TARGET vexa_test_service)
  add_subdirectory(${CMAKE_SOURCE_DIR}/tests/support ${CMAKE_BINARY_DIR}/tests/support)
endif()

vexa_unit_test(tst_update_download LIBS vexa_update_writer vexa_test_service)
vexa_unit_test(tst_update_check LIBS vexa_update_writer vexa_test_service WIDGETS)
vexa_unit_test(tst_update_dlg LIBS vexa_update_writer vexa_test_service WIDGETS)
# The window as users see it: the application's style sheet with the dialog's pictures.
target_sources(tst_update_dlg PRIVATE ${CMAKE_SOURCE_DIR}/src/resources/vexa.qrc)
