# Unpacking a 50 MB update package beside xz and sha1sum on the same bytes: time and peak memory.
add_executable(vexa_bench_unpack bench_unpack.cpp)
target_link_libraries(vexa_bench_unpack PRIVATE vexa_update_writer Qt5::Core)
set_target_properties(vexa_bench_unpack PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bench)
