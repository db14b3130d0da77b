# The launcher's side of the signed patch index: a worker build that carries the test key (made by
# openssl when the build is configured, see updater.cmake) against releases signed by openssl alone.
if(WIN32)
  add_test(NAME signed_patch_cases
           COMMAND python3 ${CMAKE_CURRENT_SOURCE_DIR}/support/make_signed_patch_cases.py ${test_patch_key}
                   ${VYR_TEST_WWW_ROOT})
  # Part of the server's set-up, since a discovered test can name only one fixture list.
  set_tests_properties(signed_patch_cases PROPERTIES FIXTURES_SETUP patch_server)
  vyr_unit_test(worker_verify_test SOURCES worker_verify_test.cpp ${CMAKE_SOURCE_DIR}/src/update/patch_key.cpp
                FIXTURES patch_server)
  target_include_directories(worker_verify_test BEFORE PRIVATE ${CMAKE_BINARY_DIR}/generated/signed)
endif()
