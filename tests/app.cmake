tactilon_test(tst_config SOURCES app/tst_config.cpp LIBS tactilon_commoncore)
tactilon_test(tst_mainwindow SOURCES app/tst_mainwindow.cpp LIBS tactilon_app tactilon_sim tactilon_resources GL TIMEOUT 180)
tactilon_test(tst_functionpanel SOURCES app/tst_functionpanel.cpp LIBS tactilon_app tactilon_sim tactilon_resources GL TIMEOUT 120)
tactilon_test(tst_recordrecovery SOURCES app/tst_recordrecovery.cpp LIBS tactilon_app tactilon_sim tactilon_resources GL TIMEOUT 600)
