# bench_replay: loading, seeking and playing a one-hour recording.
if(TARGET tactilon_app)
  add_executable(bench_replay ${CMAKE_CURRENT_LIST_DIR}/bench_replay.cpp)
  target_link_libraries(bench_replay PRIVATE tactilon_app)
endif()
