# Sending through the API against a local SMTP server; bench/bench_send.py
# drives it together with the smtplib and plain-socket baselines.
add_executable(bench_send ${CMAKE_CURRENT_LIST_DIR}/bench_send.cpp)
target_link_libraries(bench_send PRIVATE qpmailer_static)
# The raw-socket floor that bench/bench_connection.py measures beside them.
if(NOT WIN32)
  add_executable(minimal_client ${CMAKE_CURRENT_LIST_DIR}/minimal_client_posix.cpp)
endif()
