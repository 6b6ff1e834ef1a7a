tactilon_test(tst_recordformat SOURCES record/tst_recordformat.cpp LIBS tactilon_record)
tactilon_test(tst_recordwindow SOURCES record/tst_recordwindow.cpp record/recordtestlink.h LIBS tactilon_record)
tactilon_test(tst_recordexport SOURCES record/tst_recordexport.cpp record/recordtestlink.h LIBS tactilon_record)
tactilon_test(tst_recordsim SOURCES record/tst_recordsim.cpp record/recordtestlink.h LIBS tactilon_record)
