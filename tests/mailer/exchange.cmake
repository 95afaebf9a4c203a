qp_test(exchange_test ${CMAKE_CURRENT_LIST_DIR}/exchange_test.cpp)
