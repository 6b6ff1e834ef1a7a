# bench_record: one hour of recording fed into the record window; needs the test helpers.
if(TARGET tactilon_testsupport AND TARGET tactilon_record)
  add_executable(bench_record ${CMAKE_CURRENT_LIST_DIR}/bench_record.cpp)
  target_link_libraries(bench_record PRIVATE tactilon_record tactilon_testsupport)
endif()
# bench_journal: the journal's cost on the GUI thread at 200 Hz with 16 sensors, off against on.
if(TARGET tactilon_testsupport AND TARGET tactilon_record)
  add_executable(bench_journal ${CMAKE_CURRENT_LIST_DIR}/bench_journal.cpp)
  target_link_libraries(bench_journal PRIVATE tactilon_record tactilon_testsupport)
endif()
