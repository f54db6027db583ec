# Crash reporting, end to end: a test build of vexa that crashes on request ("--crash-for-test";
# the shipped program has no such switch), the real program hit by a signal, and LLDB reading
# the dumps. Only where dumps are written (x86-64 Linux).
if(VEXA_CRASH_DUMPS)
  add_executable(vexa_crashtest ${CMAKE_SOURCE_DIR}/src/app/main.cpp crash_switch.cpp ${CMAKE_SOURCE_DIR}/src/resources/vexa.qrc)
  target_link_libraries(vexa_crashtest PRIVATE vexa_thread_start_hook vexa_app)
  target_compile_definitions(vexa_crashtest PRIVATE VEXA_VERSION="${PROJECT_VERSION}")
  set_target_properties(vexa_crashtest PROPERTIES ENABLE_EXPORTS ON
                        RUNTIME_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}/crashtest)

  vexa_e2e_test(crash CLASS tst_E2eCrash DEPENDS vexa_crashtest)
  target_compile_definitions(tst_e2e_crash PRIVATE VEXA_CRASHTEST="$<TARGET_FILE:vexa_crashtest>")
  if(VEXA_SANITIZE)
    target_compile_definitions(tst_e2e_crash PRIVATE VEXA_SANITIZE)
  endif()
endif()
