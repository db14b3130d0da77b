# vyr-publish, the studio's host tool: the real binary run on generated builds (needs python3, openssl,
# and mingw-w64's windres and gcc for the version-resource check, which is skipped without them).
if(NOT WIN32)
  add_test(NAME publish_tool COMMAND python3 ${CMAKE_CURRENT_SOURCE_DIR}/publish/test_publish_tool.py
           --tool $<TARGET_FILE:vyr-publish>)
  set_tests_properties(publish_tool PROPERTIES TIMEOUT 480)
endif()

if(WIN32)
  # Releases made by vyr-publish patch a game folder under Wine; the test builds the host tool itself.
  vyr_e2e_test(e2e_publish e2e/test_publish.py TIMEOUT 600)
  # A real release as deltas, and the same served folder through a launcher built before deltas
  # (exported from git and built once, beside this build).
  vyr_e2e_test(e2e_update_real_deltas e2e/test_update_real_deltas.py TIMEOUT 900)
endif()

if(NOT WIN32)
  # The release planner's rules on real folders, under the sanitizers.
  vyr_unit_test(release_plan_test SOURCES release_plan_test.cpp)
  target_link_libraries(release_plan_test PRIVATE vyr_publish_core)
endif()
