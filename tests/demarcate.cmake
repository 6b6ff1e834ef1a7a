set(demarcate_fixture demarcate/demarcatefixture.h)
tactilon_test(tst_demarcatepoints SOURCES demarcate/tst_demarcatepoints.cpp LIBS tactilon_demarcate)
tactilon_test(tst_demarcatearray SOURCES demarcate/tst_demarcatearray.cpp ${demarcate_fixture} LIBS tactilon_demarcate)
tactilon_test(tst_demarcatesingle SOURCES demarcate/tst_demarcatesingle.cpp ${demarcate_fixture} LIBS tactilon_demarcate)
# The watchdog case alone waits its full 10 s.
tactilon_test(tst_demarcateacquisition SOURCES demarcate/tst_demarcateacquisition.cpp ${demarcate_fixture}
  LIBS tactilon_demarcate TIMEOUT 120)
# End to end with the simulated card behind the link.
tactilon_test(tst_demarcatesim SOURCES demarcate/tst_demarcatesim.cpp LIBS tactilon_demarcate)
