# The nginx fixture "nginx_server": Debian's nginx serving build/www over HTTPS with the test certificate,
# beside the Python patch server (see tools/nginx_server.sh for its three ports). Tests that need it list
# FIXTURES nginx_server; they reach it through VYR_NGINX_PORT (N: keep-alive; N+1: a new connection per
# request; N+2: a new connection per request whose certificate the test can switch), a compile definition
# and, for end-to-end tests, an environment variable, and find its access log and switch certificate
# files in VYR_NGINX_STATE_DIR (a Z: path; on the host <build>/nginx). Certificates and their trust in the
# Wine prefix come from the patch_server fixture's set-up tests, which this fixture shares.
if(WIN32)
  set(nginx_state_dir ${CMAKE_BINARY_DIR}/nginx)
  add_compile_definitions(VYR_NGINX_PORT=${VYR_NGINX_PORT} VYR_NGINX_STATE_DIR="Z:${nginx_state_dir}")

  add_test(NAME nginx_server_start
           COMMAND bash ${CMAKE_SOURCE_DIR}/tools/nginx_server.sh start --root ${VYR_TEST_WWW_ROOT}
                   --certs ${VYR_TEST_CERT_DIR} --port ${VYR_NGINX_PORT} --state ${nginx_state_dir})
  add_test(NAME nginx_server_stop
           COMMAND bash ${CMAKE_SOURCE_DIR}/tools/nginx_server.sh stop --state ${nginx_state_dir})
  set_property(TEST patch_server_certs patch_server_trust_ca APPEND PROPERTY FIXTURES_SETUP nginx_server)
  set_tests_properties(nginx_server_start PROPERTIES FIXTURES_SETUP nginx_server DEPENDS patch_server_certs
                       TIMEOUT 60)
  set_tests_properties(nginx_server_stop PROPERTIES FIXTURES_CLEANUP nginx_server)
endif()
