# Building the 64 MiB download stream, against cp of the same data.
add_executable(bench_stream ${CMAKE_CURRENT_LIST_DIR}/stream.cpp)
target_link_libraries(bench_stream PRIVATE fwload_core)
target_include_directories(bench_stream PRIVATE ${PROJECT_SOURCE_DIR}/tests)
