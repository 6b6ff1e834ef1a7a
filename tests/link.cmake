tactilon_test(tst_slavecodec SOURCES link/tst_slavecodec.cpp)
tactilon_test(tst_slaveprotocol SOURCES link/tst_slaveprotocol.cpp)
tactilon_test(tst_calibrationprotocol SOURCES link/tst_calibrationprotocol.cpp)
tactilon_test(tst_myserialport SOURCES link/tst_myserialport.cpp TIMEOUT 60)
