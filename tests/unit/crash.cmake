# Crash reporting set up right: the reporter path, the dump folder, installation, the threads'
# alternate stacks. The crashes themselves are end-to-end tests.
vexa_unit_test(tst_crash_handler LIBS vexa_platform)
if(VEXA_CRASH_DUMPS)
  target_compile_definitions(tst_crash_handler PRIVATE VEXA_CRASH_DUMPS)
endif()
