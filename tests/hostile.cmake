# Hostile input suites: manifests (platform-free, also run natively under sanitizers), archives,
# the delete list and the worker (Win32) against the real extraction and file system.
vyr_unit_test(hostile_manifest_test SOURCES hostile_manifest_test.cpp)
if(WIN32)
  vyr_unit_test(hostile_archive_test SOURCES hostile_archive_test.cpp)
  # vyr_zip_writer (minizip's writer for building test archives) comes from tests/patch.cmake.
  target_link_libraries(hostile_archive_test PRIVATE vyr_zip_writer)
  vyr_unit_test(hostile_worker_test SOURCES hostile_worker_test.cpp)
endif()
