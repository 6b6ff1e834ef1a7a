# bench_longrun: a long recording with the card vanishing and coming back; by hand.
if(TARGET tactilon_app AND TARGET tactilon-sim)
  add_executable(bench_longrun ${CMAKE_CURRENT_LIST_DIR}/bench_longrun.cpp)
  target_link_libraries(bench_longrun PRIVATE tactilon_app tactilon_resources)
  target_compile_definitions(bench_longrun PRIVATE TACTILON_SIM="$<TARGET_FILE:tactilon-sim>")
  add_dependencies(bench_longrun tactilon-sim)
endif()
