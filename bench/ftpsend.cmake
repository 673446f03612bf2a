# Uploading the 64 MiB download stream to the printer simulator's FTP server through the access
# library, against curl -T to the same server.
add_executable(bench_ftpsend ${CMAKE_CURRENT_LIST_DIR}/ftpsend.cpp
  ${PROJECT_SOURCE_DIR}/tests/support/simulator.cpp)
target_include_directories(bench_ftpsend PRIVATE ${PROJECT_SOURCE_DIR}/tests)
target_link_libraries(bench_ftpsend PRIVATE fwload_core)
add_dependencies(bench_ftpsend fwloadaccess)
