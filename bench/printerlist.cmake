# One printer-list rebuild for 10, 100 and 500 queues on a private print server, against
# `lpstat -l -p` on the same server.
add_executable(bench_printerlist ${CMAKE_CURRENT_LIST_DIR}/printerlist.cpp)
target_link_libraries(bench_printerlist PRIVATE fwload_core)
target_include_directories(bench_printerlist PRIVATE ${PROJECT_SOURCE_DIR}/tests)
