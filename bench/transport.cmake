# The exchange over loopback: bulk sending through SendText and the time of
# one short conversation with the scripted peer.
add_executable(bench_transport
  ${CMAKE_CURRENT_LIST_DIR}/bench_transport.cpp
  ${PROJECT_SOURCE_DIR}/tests/support/scripted_peer.cpp)
target_link_libraries(bench_transport PRIVATE qpmailer_static benchmark::benchmark)
