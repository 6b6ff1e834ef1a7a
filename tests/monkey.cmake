# Random input soak: half a minute here, a minute in the sanitizer build; by hand for longer:
# TACTILON_MONKEY_SECONDS=1800 build/tests/tst_monkey under xvfb-run, TACTILON_MONKEY_SEED to replay.
tactilon_test(tst_monkey SOURCES monkey/monkey.cpp LIBS tactilon_app tactilon_sim tactilon_resources GL TIMEOUT 300)
set(monkey_env "QT_QPA_PLATFORM=xcb;LIBGL_ALWAYS_SOFTWARE=1;QT_LOGGING_RULES=*.debug=false")
if(TACTILON_SANITIZE)
  # Every memory error still ends the run. Leaks are left to the other tests: one five-minute run
  # ended with 50 bytes in two allocations no stack could name, which would fail CI at random.
  list(APPEND monkey_env "TACTILON_MONKEY_SECONDS=60" "ASAN_OPTIONS=detect_leaks=0:detect_stack_use_after_return=1")
else()
  list(APPEND monkey_env "TACTILON_MONKEY_SECONDS=30")
endif()
set_tests_properties(tst_monkey PROPERTIES ENVIRONMENT "${monkey_env}")
