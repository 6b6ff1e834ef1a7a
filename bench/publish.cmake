# bench_publish: latency and CPU of publishing the live stream over MQTT; needs the test helpers
# (the simulated card's link, Debian's broker on loopback, the subscriber).
if(TARGET tactilon_testsupport AND TARGET tactilon_testmqtt AND TARGET tactilon_publish)
  add_executable(bench_publish ${CMAKE_CURRENT_LIST_DIR}/bench_publish.cpp)
  target_link_libraries(bench_publish PRIVATE tactilon_publish tactilon_testmqtt tactilon_testsupport)
endif()
