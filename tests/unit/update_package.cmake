# The update package format: the reader, the writer, and mkupdate run as built.
vexa_unit_test(tst_update_package LIBS vexa_update_writer)
target_compile_definitions(tst_update_package PRIVATE VEXA_TEST_DATA="${CMAKE_SOURCE_DIR}/tests/data/update"
                                                      MKUPDATE="$<TARGET_FILE:mkupdate>")
add_dependencies(tst_update_package mkupdate)
