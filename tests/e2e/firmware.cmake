# The firmware update on the real program and the virtual pad: nginx stands in for the vendor
# service, mkupdate packs an image that padctl writes, xdotool clicks the update window's button.
if(NOT TARGET vexa_test_service)
  add_subdirectory(${CMAKE_SOURCE_DIR}/tests/support ${CMAKE_BINARY_DIR}/tests/support)
endif()
if(TARGET padio AND TARGET padctl AND TARGET mkupdate)
  vexa_e2e_test(firmware CLASS tst_E2eFirmware LIBS vexa_update vexa_test_service DEPENDS padio padctl mkupdate)
  target_compile_definitions(tst_e2e_firmware PRIVATE VEXA_MKUPDATE="$<TARGET_FILE:mkupdate>")
endif()
# A pad left in its loader by a flash cut short, offered its image again at the next start.
if(TARGET padio AND TARGET padctl)
  vexa_e2e_test(reflash CLASS tst_E2eReflash LIBS vexa_test_service DEPENDS padio padctl)
endif()
