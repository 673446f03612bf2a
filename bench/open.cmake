# Opening a 64 MiB firmware file of each kind against the reference tools on the same file.
add_executable(bench_open ${CMAKE_CURRENT_LIST_DIR}/open.cpp)
target_link_libraries(bench_open PRIVATE fwload_core PkgConfig::MSPACK)
target_include_directories(bench_open PRIVATE ${PROJECT_SOURCE_DIR}/tests)
