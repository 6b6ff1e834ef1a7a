# bench_graph: the graph window's refresh cost; --shots DIR saves screenshots.
if(TARGET tactilon_views)
  add_executable(bench_graph ${CMAKE_CURRENT_LIST_DIR}/bench_graph.cpp)
  target_link_libraries(bench_graph PRIVATE tactilon_views Qt6::Test)
endif()
