# Tests of the layout scans, the compositor, the window procedure and the skinned window end to end.
vyr_unit_test(layout_text_test SOURCES layout_text_test.cpp)
vyr_unit_test(ui_frame_math_test SOURCES ui_frame_math_test.cpp)
vyr_unit_test(ui_hit_test_test SOURCES ui_hit_test_test.cpp)
if(WIN32)
  vyr_unit_test(ui_compositor_test SOURCES ui_compositor_test.cpp)
  vyr_unit_test(ui_window_test SOURCES ui_window_test.cpp)
endif()
if(WIN32)
  # Needs no patch server: nothing may listen on the test port while it runs.
  vyr_e2e_test(ui_window_e2e e2e/test_window.py)
endif()
