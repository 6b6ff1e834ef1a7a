# tactilon-record runs as a program against the simulated card: the test starts the real binary.
if(TARGET tactilon-record)
  tactilon_test(tst_recorder SOURCES recorder/tst_recorder.cpp
    LIBS tactilon_record tactilon_sim TIMEOUT 180)
  target_compile_definitions(tst_recorder PRIVATE TACTILON_RECORD="$<TARGET_FILE:tactilon-record>")
  add_dependencies(tst_recorder tactilon-record)
endif()
