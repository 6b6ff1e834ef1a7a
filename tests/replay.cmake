tactilon_test(tst_replaycsv SOURCES replay/tst_replaycsv.cpp LIBS tactilon_replaycsv)
# The window with the graph window behind it, and the main window on the simulated card.
tactilon_test(tst_replaywindow SOURCES replay/tst_replaywindow.cpp
  LIBS tactilon_replay tactilon_app tactilon_sim tactilon_resources GL TIMEOUT 120)
target_include_directories(tst_replaywindow PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/record)
