# Opening the history window: 10,000 rows read while another process writes (the store, and the
# window's own model), against the sqlite3 program and a plain sqlite3_exec of the same rows.
add_executable(bench_history_open ${CMAKE_CURRENT_LIST_DIR}/history_open.cpp)
target_link_libraries(bench_history_open PRIVATE fwload_core fwload_ui SQLite::SQLite3)
target_include_directories(bench_history_open PRIVATE ${PROJECT_SOURCE_DIR}/tests)
