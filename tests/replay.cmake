tactilon_test(tst_replaycsv SOURCES replay/tst_replaycsv.cpp LIBS tactilon_replaycsv)
