# bench_replay: loading, seeking and playing a one-hour recording.
if(TARGET tactilon_replay)
  add_executable(bench_replay ${CMAKE_CURRENT_LIST_DIR}/bench_replay.cpp)
  target_link_libraries(bench_replay PRIVATE tactilon_replay)
endif()
