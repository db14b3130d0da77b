# The download speed limit and pause: pacing and the per-user file's text natively, and the system
# menu's pause, resume and speed choice end to end.
vyr_unit_test(rate_limiter_test SOURCES rate_limiter_test.cpp)

if(WIN32)
  vyr_e2e_test(e2e_download_pause e2e/test_download_pause.py)
endif()

if(WIN32)
  vyr_unit_test(worker_pause_test SOURCES worker_pause_test.cpp FIXTURES patch_server)
endif()

if(WIN32)
  vyr_e2e_test(e2e_updater_speed e2e/test_updater_speed.py)
  set_tests_properties(e2e_updater_speed PROPERTIES RESOURCE_LOCK "desktop;installer_registry" RUN_SERIAL TRUE)
endif()
