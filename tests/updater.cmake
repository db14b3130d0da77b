# Tests of Updater and the checks it shares with the launcher: its command line, the CNG hash and
# signature checks against openssl, and the self-update end to end under Wine.
vyr_unit_test(updater_command_test SOURCES updater_command_test.cpp)
vyr_unit_test(pe_image_test SOURCES pe_image_test.cpp)

if(WIN32)
  vyr_unit_test(launcher_swap_test SOURCES launcher_swap_test.cpp)
  # Keys, a signature and a patch index made by the openssl command line, fresh for each run.
  set(crypto_fixture_dir ${CMAKE_BINARY_DIR}/crypto-fixture)
  add_test(NAME patch_crypto_fixture
           COMMAND python3 ${CMAKE_CURRENT_SOURCE_DIR}/support/openssl_sign.py fixture ${crypto_fixture_dir})
  set_tests_properties(patch_crypto_fixture PROPERTIES FIXTURES_SETUP crypto_fixture)
  vyr_unit_test(patch_crypto_test SOURCES patch_crypto_test.cpp FIXTURES crypto_fixture)
  target_compile_definitions(patch_crypto_test PRIVATE VYR_CRYPTO_FIXTURE_DIR="Z:${crypto_fixture_dir}")

  # The next launcher for the self-update: the same sources with version 0.0.0.6. One file compiles.
  vyr_launcher_version_header("0.0.0.6" ${CMAKE_BINARY_DIR}/generated/version-next)
  add_executable(VYRLauncher_next WIN32 ${CMAKE_SOURCE_DIR}/src/app/main.cpp ${VYR_RESOURCE_FILES})
  target_link_libraries(VYRLauncher_next PRIVATE vyr_win32)
  target_include_directories(VYRLauncher_next PRIVATE ${CMAKE_SOURCE_DIR}/src/res ${CMAKE_BINARY_DIR}/generated
                             ${CMAKE_BINARY_DIR}/generated/version-next)

  # A signed Updater: the engine as built, linked with a copy of the key module that carries a test
  # key made by openssl when the build is configured (the private half stays in the build folder).
  set(test_patch_key ${CMAKE_BINARY_DIR}/test-patch-key.pem)
  if(NOT EXISTS ${test_patch_key})
    execute_process(COMMAND python3 ${CMAKE_CURRENT_SOURCE_DIR}/support/openssl_sign.py keygen ${test_patch_key}
                    OUTPUT_QUIET COMMAND_ERROR_IS_FATAL ANY)
  endif()
  execute_process(COMMAND openssl ec -in ${test_patch_key} -pubout -outform DER OUTPUT_FILE
                  ${CMAKE_BINARY_DIR}/test-patch-key.der ERROR_QUIET COMMAND_ERROR_IS_FATAL ANY)
  execute_process(COMMAND python3 -c "import sys; print(open(sys.argv[1], 'rb').read()[-64:].hex(), end='')"
                  ${CMAKE_BINARY_DIR}/test-patch-key.der OUTPUT_VARIABLE test_patch_public_key
                  COMMAND_ERROR_IS_FATAL ANY)
  function(vyr_signed_deployment_header key)
    set(VYR_PATCH_PUBLIC_KEY ${key})  # this function's scope only
    configure_file(${CMAKE_SOURCE_DIR}/src/settings/deployment.h.in
                   ${CMAKE_BINARY_DIR}/generated/signed/deployment.h @ONLY)
  endfunction()
  vyr_signed_deployment_header(${test_patch_public_key})
  add_executable(Updater_signed WIN32 ${CMAKE_SOURCE_DIR}/src/updater/updater_main.cpp
                 ${CMAKE_SOURCE_DIR}/src/verification/patch_key.cpp ${CMAKE_SOURCE_DIR}/src/updater/updater.rc)
  target_include_directories(Updater_signed BEFORE PRIVATE ${CMAKE_BINARY_DIR}/generated/signed)
  target_include_directories(Updater_signed PRIVATE ${CMAKE_BINARY_DIR}/generated/updater
                             ${CMAKE_SOURCE_DIR}/src/res/skin)
  target_link_libraries(Updater_signed PRIVATE vyr_updater)

  vyr_e2e_test(e2e_updater e2e/test_updater.py)
  # It writes the installer's registry value, like the hand-off test.
  set_tests_properties(e2e_updater PROPERTIES RESOURCE_LOCK "desktop;installer_registry" RUN_SERIAL TRUE
                       TIMEOUT 600)
  # Cut, unstartable and killed swaps, a hanging installer, and the wait for the launcher to end.
  vyr_e2e_test(e2e_updater_faults e2e/test_updater_faults.py)
  set_tests_properties(e2e_updater_faults PROPERTIES RESOURCE_LOCK "desktop;installer_registry" RUN_SERIAL TRUE
                       TIMEOUT 600)
  # The launcher through a delta made by the zstd command line, and the whole file when it does not fit.
  vyr_e2e_test(e2e_updater_delta e2e/test_updater_delta.py)
  set_tests_properties(e2e_updater_delta PROPERTIES RESOURCE_LOCK "desktop;installer_registry" RUN_SERIAL TRUE
                       TIMEOUT 600)
endif()
