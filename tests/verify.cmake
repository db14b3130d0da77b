# The launcher's side of the signed patch index: a worker build that carries the test key (made by
# openssl when the build is configured, see updater.cmake) against releases signed by openssl alone.
if(WIN32)
  add_test(NAME signed_patch_cases
           COMMAND python3 ${CMAKE_CURRENT_SOURCE_DIR}/support/make_signed_patch_cases.py ${test_patch_key}
                   ${VYR_TEST_WWW_ROOT})
  # Part of the server's set-up, since a discovered test can name only one fixture list.
  set_tests_properties(signed_patch_cases PROPERTIES FIXTURES_SETUP patch_server)
  vyr_unit_test(worker_verify_test SOURCES worker_verify_test.cpp ${CMAKE_SOURCE_DIR}/src/verification/patch_key.cpp
                FIXTURES patch_server)
  target_include_directories(worker_verify_test BEFORE PRIVATE ${CMAKE_BINARY_DIR}/generated/signed)

  # The launcher as a studio ships it, carrying the test key: the publishing test signs for it.
  add_executable(VYRLauncher_signed WIN32 ${CMAKE_SOURCE_DIR}/src/app/main.cpp ${CMAKE_SOURCE_DIR}/src/verification/patch_key.cpp
                 ${VYR_RESOURCE_FILES})
  target_link_libraries(VYRLauncher_signed PRIVATE vyr_win32)
  target_include_directories(VYRLauncher_signed BEFORE PRIVATE ${CMAKE_BINARY_DIR}/generated/signed)
  target_include_directories(VYRLauncher_signed PRIVATE ${CMAKE_SOURCE_DIR}/src/res ${CMAKE_BINARY_DIR}/generated
                             ${CMAKE_BINARY_DIR}/generated/version)
  set_target_properties(VYRLauncher_signed PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})
endif()

if(WIN32)
  # Steps rebuilt from signed delta payloads, against the same openssl-signed fixtures.
  vyr_unit_test(worker_delta_test SOURCES worker_delta_test.cpp ${CMAKE_SOURCE_DIR}/src/verification/patch_key.cpp
                FIXTURES patch_server)
  target_include_directories(worker_delta_test BEFORE PRIVATE ${CMAKE_BINARY_DIR}/generated/signed)
endif()

if(WIN32)
  # The signed launcher killed while it applies a large delta payload, then started again.
  vyr_e2e_test(e2e_delta_kill e2e/test_delta_kill.py)
endif()
