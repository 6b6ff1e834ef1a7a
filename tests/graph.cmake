tactilon_test(tst_curvemath SOURCES graph/tst_curvemath.cpp LIBS tactilon_views)
tactilon_test(tst_curvegraphic SOURCES graph/tst_curvegraphic.cpp LIBS tactilon_views GL)
