# The fault soak runs about a minute here; by hand: build/tests/tst_soak 1800 (under xvfb-run).
tactilon_test(tst_soak SOURCES soak/soak.cpp LIBS tactilon_app tactilon_sim tactilon_resources GL TIMEOUT 300)
set_tests_properties(tst_soak PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=xcb;LIBGL_ALWAYS_SOFTWARE=1;QT_LOGGING_RULES=*.debug=false")
# Alone, so the event-loop latency it measures is the tool's and not other tests'.
set_tests_properties(tst_soak PROPERTIES RUN_SERIAL TRUE)
