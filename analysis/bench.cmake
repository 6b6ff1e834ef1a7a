# bench_analysis: the analysis window's CPU on the in-process simulated card (a test helper) and
# the export of a one-hour recording.
if(TARGET tactilon_analysis AND TARGET tactilon_testsupport)
  add_executable(bench_analysis ${PROJECT_SOURCE_DIR}/bench/bench_analysis.cpp)
  target_link_libraries(bench_analysis PRIVATE tactilon_analysis tactilon_testsupport tactilon_recordformat Qt6::Test)
endif()
