# Random input soak: half a minute here, a minute in the sanitizer build; by hand for longer:
# TACTILON_MONKEY_SECONDS=1800 build/tests/tst_monkey under xvfb-run, TACTILON_MONKEY_SEED to replay.
tactilon_test(tst_monkey SOURCES monkey/monkey.cpp LIBS tactilon_app tactilon_sim tactilon_resources GL TIMEOUT 300)
if(TACTILON_SANITIZE)
  set(monkey_seconds 60)
else()
  set(monkey_seconds 30)
endif()
set_tests_properties(tst_monkey PROPERTIES ENVIRONMENT
  "QT_QPA_PLATFORM=xcb;LIBGL_ALWAYS_SOFTWARE=1;QT_LOGGING_RULES=*.debug=false;TACTILON_MONKEY_SECONDS=${monkey_seconds}")
