# Tests of the transfer side of the update engine: URL splitting, version texts, the manifest parser,
# downloads against the local HTTPS patch server, and the registry-based installer check.
vyr_unit_test(url_test SOURCES url_test.cpp)
vyr_unit_test(content_range_test SOURCES content_range_test.cpp)
vyr_unit_test(version_text_test SOURCES version_text_test.cpp)
vyr_unit_test(manifest_text_test SOURCES manifest_text_test.cpp)
# The reader that deployed launchers carry, beside the current one.
vyr_unit_test(manifest_deployed_reader_test SOURCES manifest_deployed_reader_test.cpp
              support/deployed_manifest_text.cpp)

if(WIN32)
  vyr_unit_test(net_transfer_test SOURCES net_transfer_test.cpp FIXTURES patch_server)
  vyr_unit_test(net_manifest_fetch_test SOURCES net_manifest_fetch_test.cpp FIXTURES patch_server)

  # The installer check reads one fixed HKLM value of the shared Wine prefix, which the hand-off
  # end-to-end test also writes and every launcher run reads: these tests hold the desktop lock too.
  add_executable(version_check_test version_check_test.cpp version_check_test.rc)
  target_link_libraries(version_check_test PRIVATE vyr_win32 gtest_main)
  target_include_directories(version_check_test PRIVATE ${CMAKE_SOURCE_DIR}/tests)
  gtest_discover_tests(version_check_test DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60
                       PROPERTIES RESOURCE_LOCK "installer_registry;desktop")
endif()

if(WIN32)
  vyr_e2e_test(e2e_handoff e2e/test_handoff.py)
  # It writes the installer's registry value, which the version check tests read. Alone: a Wine program
  # started without a display while the launcher starts leaves the prefix's desktop without one.
  set_tests_properties(e2e_handoff PROPERTIES RESOURCE_LOCK "desktop;installer_registry" RUN_SERIAL TRUE)
endif()
