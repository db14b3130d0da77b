# Cipher and configuration file tests.
vyr_unit_test(cipher_test SOURCES cipher_test.cpp)
vyr_unit_test(config_text_test SOURCES config_text_test.cpp)
if(WIN32)
  vyr_unit_test(config_file_test SOURCES config_file_test.cpp)
endif()
if(WIN32)
  # Needs no patch server: the launcher only has to get past reading and writing its config.
  vyr_e2e_test(config_e2e e2e/test_config.py)
endif()
