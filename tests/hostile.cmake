# Hostile input suites: manifests (platform-free, also run natively under sanitizers), archives,
# the delete list and the worker (Win32) against the real extraction and file system.
vyr_unit_test(hostile_manifest_test SOURCES hostile_manifest_test.cpp)
if(WIN32)
  vyr_unit_test(hostile_archive_test SOURCES hostile_archive_test.cpp)
  # vyr_zip_writer (minizip's writer for building test archives) comes from tests/patch.cmake.
  target_link_libraries(hostile_archive_test PRIVATE vyr_zip_writer)
  vyr_unit_test(hostile_worker_test SOURCES hostile_worker_test.cpp)
endif()

if(WIN32)
  # Other projects' zip test archives against Info-ZIP unzip, and single bit flips in their deflated
  # entries: one run of the driver unpacks them all under one Wine start.
  add_executable(zip_corpus_runner zip_corpus_runner.cpp)
  target_link_libraries(zip_corpus_runner PRIVATE vyr_win32)
  add_test(NAME zip_corpus COMMAND python3 ${CMAKE_CURRENT_SOURCE_DIR}/zip_corpus.py
           --runner $<TARGET_FILE:zip_corpus_runner> --emulator /usr/lib/wine/wine64
           --libarchive-tests ${VYR_DEPS_DIR}/libarchive-zip-tests)
  set_tests_properties(zip_corpus PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 900 ENVIRONMENT "WINEDEBUG=-all")
endif()
