# Delta payloads: the decoder natively under the sanitizers, against frames the host's libzstd makes;
# applying payloads made by the host's zstd command line, under Wine.
if(NOT WIN32)
  vyr_unit_test(delta_decode_test SOURCES delta_decode_test.cpp)
else()
  set(delta_fixture_dir ${CMAKE_BINARY_DIR}/delta-fixture)
  add_test(NAME delta_payload_fixture
           COMMAND python3 ${CMAKE_CURRENT_SOURCE_DIR}/support/make_delta_payloads.py ${delta_fixture_dir})
  set_tests_properties(delta_payload_fixture PROPERTIES FIXTURES_SETUP delta_payloads)
  vyr_unit_test(delta_apply_test SOURCES delta_apply_test.cpp FIXTURES delta_payloads)
  target_compile_definitions(delta_apply_test PRIVATE VYR_DELTA_FIXTURE_DIR="Z:${delta_fixture_dir}")
endif()
