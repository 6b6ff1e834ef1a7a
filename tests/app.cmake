tactilon_test(tst_config SOURCES app/tst_config.cpp LIBS tactilon_config)
tactilon_test(tst_mainwindow SOURCES app/tst_mainwindow.cpp LIBS tactilon_app tactilon_resources TIMEOUT 120)
