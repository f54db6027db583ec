# Crash reporting: where the reporter is looked for. The crashes themselves are end-to-end tests.
vexa_unit_test(tst_crash_handler LIBS vexa_platform)
