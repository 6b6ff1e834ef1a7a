# tactilon-viewer: the three OpenGL views with given sensors and forces, for looking at them,
# saving screenshots (--shots) and timing repaints (--bench).
add_executable(tactilon-viewer ${CMAKE_CURRENT_LIST_DIR}/viewer/main.cpp)
target_link_libraries(tactilon-viewer PRIVATE tactilon_views)
