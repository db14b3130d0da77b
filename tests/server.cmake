# The local HTTPS patch server fixture "patch_server": test certificates, the test CA trusted inside the
# Wine prefix, and the server daemon on VYR_TEST_PORT (and the next two ports) serving build/www.
if(WIN32)
  set(VYR_TEST_CERT_DIR ${CMAKE_BINARY_DIR}/test-certs)
  set(VYR_TEST_WWW_ROOT ${CMAKE_BINARY_DIR}/www)
  set(patch_server_pid ${CMAKE_BINARY_DIR}/patch_server.pid)
  file(MAKE_DIRECTORY ${VYR_TEST_WWW_ROOT})

  # Tests reach the www root under Wine through drive Z:, which maps the host's root directory.
  add_compile_definitions(VYR_TEST_WWW_DIR="Z:${VYR_TEST_WWW_ROOT}" VYR_TEST_CERT_DIR="Z:${VYR_TEST_CERT_DIR}")

  add_test(NAME patch_server_certs COMMAND bash ${CMAKE_SOURCE_DIR}/tools/make_test_certs.sh ${VYR_TEST_CERT_DIR})
  add_test(NAME patch_server_trust_ca
           COMMAND ${CMAKE_CROSSCOMPILING_EMULATOR} $<TARGET_FILE:install_test_ca> ${VYR_TEST_CERT_DIR}/ca.pem)
  add_test(NAME patch_server_start
           COMMAND python3 ${CMAKE_SOURCE_DIR}/tools/patch_server.py --root ${VYR_TEST_WWW_ROOT}
                   --port ${VYR_TEST_PORT} --certs ${VYR_TEST_CERT_DIR} --daemon --pid-file ${patch_server_pid}
                   --log ${CMAKE_BINARY_DIR}/patch_server.log)
  add_test(NAME patch_server_stop
           COMMAND python3 ${CMAKE_SOURCE_DIR}/tools/patch_server.py --stop --pid-file ${patch_server_pid})
  set_tests_properties(patch_server_certs patch_server_trust_ca patch_server_start PROPERTIES
                       FIXTURES_SETUP patch_server TIMEOUT 120)
  set_tests_properties(patch_server_trust_ca patch_server_start PROPERTIES DEPENDS patch_server_certs)
  set_tests_properties(patch_server_stop PROPERTIES FIXTURES_CLEANUP patch_server)
endif()
