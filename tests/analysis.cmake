tactilon_test(tst_pressuremath SOURCES analysis/tst_pressuremath.cpp LIBS tactilon_analysis)
# The window on the simulated card and its export; recordings are written with the record window's rows.
tactilon_test(tst_analysiswindow SOURCES analysis/tst_analysiswindow.cpp LIBS tactilon_analysis tactilon_recordformat)
