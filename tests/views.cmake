tactilon_test(tst_viewmath SOURCES views/tst_viewmath.cpp LIBS tactilon_views)
tactilon_test(tst_viewinput SOURCES views/tst_viewinput.cpp LIBS tactilon_views GL)
tactilon_test(tst_viewrendering SOURCES views/tst_viewrendering.cpp LIBS tactilon_views GL)
target_compile_definitions(tst_viewrendering PRIVATE TACTILON_VIEW_REFERENCES="${CMAKE_CURRENT_SOURCE_DIR}/views/reference")
# The same views on a context too old for them: they must stay blank without crashing.
tactilon_test(tst_viewfallback SOURCES views/tst_viewfallback.cpp LIBS tactilon_views GL)
set_property(TEST tst_viewfallback APPEND PROPERTY ENVIRONMENT "MESA_GL_VERSION_OVERRIDE=3.0")
