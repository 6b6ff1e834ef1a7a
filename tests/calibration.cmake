tactilon_test(tst_checkboxdelegate SOURCES calibration/tst_checkboxdelegate.cpp
  LIBS tactilon_calibration tactilon_resources)
tactilon_test(tst_calibrationwindow SOURCES calibration/tst_calibrationwindow.cpp
  LIBS tactilon_calibration tactilon_resources TIMEOUT 180)
tactilon_test(tst_calibrationsim SOURCES calibration/tst_calibrationsim.cpp
  LIBS tactilon_calibration TIMEOUT 120)
