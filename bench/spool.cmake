# The spooler transfer of the 64 MiB download stream through a private print server to the
# printer simulator's raw port, against lp -o raw on the same queue.
add_executable(bench_spool ${CMAKE_CURRENT_LIST_DIR}/spool.cpp
  ${PROJECT_SOURCE_DIR}/tests/support/simulator.cpp)
target_include_directories(bench_spool PRIVATE ${PROJECT_SOURCE_DIR}/tests)
target_link_libraries(bench_spool PRIVATE fwload_core)
