# tactilon_testmqtt: Debian's broker on a loopback port and a subscriber that keeps what it gets,
# for any test that publishes (the tool's and tactilon-record's too).
if(TARGET tactilon_publish AND NOT TARGET tactilon_testmqtt)
  add_library(tactilon_testmqtt STATIC support/mosquittobroker.h support/mosquittobroker.cpp)
  target_include_directories(tactilon_testmqtt PUBLIC ${CMAKE_CURRENT_SOURCE_DIR}/support)
  target_link_libraries(tactilon_testmqtt PUBLIC Qt6::Core Qt6::Test PkgConfig::MOSQUITTO)
endif()

if(TARGET tactilon_publishdialog)
  tactilon_test(tst_publish SOURCES publish/tst_publish.cpp LIBS tactilon_publishdialog tactilon_commoncore)
  tactilon_test(tst_publishbroker SOURCES publish/tst_publishbroker.cpp
    LIBS tactilon_publish tactilon_testmqtt tactilon_sim TIMEOUT 300)
endif()

# The tool's menu and the recorder's options, end to end with a broker.
if(TARGET tactilon_app AND TARGET tactilon-record AND TARGET tactilon_testmqtt)
  tactilon_test(tst_publishtool SOURCES publish/tst_publishtool.cpp
    LIBS tactilon_app tactilon_testmqtt tactilon_sim tactilon_resources GL TIMEOUT 300)
  target_compile_definitions(tst_publishtool PRIVATE TACTILON_RECORD="$<TARGET_FILE:tactilon-record>")
  add_dependencies(tst_publishtool tactilon-record)
endif()
