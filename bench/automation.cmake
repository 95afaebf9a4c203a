# The automation binding: property puts and gets through IDispatch::Invoke.
add_executable(bench_automation ${CMAKE_CURRENT_LIST_DIR}/bench_automation.cpp)
target_link_libraries(bench_automation PRIVATE qp_server_binding benchmark::benchmark)
