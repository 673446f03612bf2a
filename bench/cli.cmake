# Whole jobs through fwload-cli against cabextract, cat and lp -o raw on the same queues.
if(TARGET fwload-cli)
  add_executable(bench_cli ${CMAKE_CURRENT_LIST_DIR}/cli.cpp
    ${PROJECT_SOURCE_DIR}/tests/support/simulator.cpp)
  target_include_directories(bench_cli PRIVATE ${PROJECT_SOURCE_DIR}/tests)
  target_link_libraries(bench_cli PRIVATE fwload_core)
  add_dependencies(bench_cli fwload-cli)
endif()
