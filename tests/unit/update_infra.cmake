# The update subsystem's groundwork: the HTTP worker against a real server, the service address,
# the dialog's pictures and style, the installer program.
if(NOT TARGET vexa_test_service)
  add_subdirectory(${CMAKE_SOURCE_DIR}/tests/support ${CMAKE_BINARY_DIR}/tests/support)
endif()

vexa_unit_test(tst_http_request_worker LIBS vexa_update vexa_test_service)
vexa_unit_test(tst_update_service LIBS vexa_update)

# The application's style sheet with the dialog's rules, and the pictures it names.
vexa_unit_test(tst_update_pictures LIBS vexa_update WIDGETS)
target_sources(tst_update_pictures PRIVATE ${CMAKE_SOURCE_DIR}/src/resources/vexa.qrc)

# Runs the built installer on application folders of its own.
vexa_unit_test(tst_updater LIBS vexa_update)
target_compile_definitions(tst_updater PRIVATE UPDATER="$<TARGET_FILE:Updater>")
add_dependencies(tst_updater Updater)

# The configure-time warning for a service without a vendor key.
add_test(NAME update_trust_warning
         COMMAND ${CMAKE_COMMAND} -DTRUST=${CMAKE_SOURCE_DIR}/src/update/trust.cmake
                 -P ${CMAKE_CURRENT_SOURCE_DIR}/check_update_trust.cmake)
set_tests_properties(update_trust_warning PROPERTIES LABELS unit)
