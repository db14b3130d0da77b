# Tests of the update worker's area: path checks, progress values, zip extraction, delete list,
# and patch downloads against the local HTTPS patch server.
vyr_unit_test(path_check_test SOURCES path_check_test.cpp)
vyr_unit_test(worker_progress_test SOURCES worker_progress_test.cpp)
vyr_unit_test(patch_index_test SOURCES patch_index_test.cpp)
vyr_unit_test(delta_list_test SOURCES delta_list_test.cpp)
vyr_unit_test(zip_directory_test SOURCES zip_directory_test.cpp)
vyr_unit_test(delta_plan_test SOURCES delta_plan_test.cpp)

if(WIN32)
  # minizip's writer, only for building archives inside the tests.
  add_library(vyr_zip_writer STATIC ${MINIZIP_SRC}/zip.c)
  target_include_directories(vyr_zip_writer PUBLIC ${MINIZIP_SRC})
  target_compile_definitions(vyr_zip_writer PRIVATE NOCRYPT)
  target_compile_options(vyr_zip_writer PRIVATE -w)
  target_link_libraries(vyr_zip_writer PUBLIC minizip)

  vyr_unit_test(zip_extract_test SOURCES zip_extract_test.cpp)
  target_link_libraries(zip_extract_test PRIVATE vyr_zip_writer)

  vyr_unit_test(worker_delete_list_test SOURCES worker_delete_list_test.cpp)

  vyr_unit_test(worker_download_test SOURCES worker_download_test.cpp FIXTURES patch_server)
  target_link_libraries(worker_download_test PRIVATE vyr_zip_writer)
  vyr_unit_test(worker_retry_test SOURCES worker_retry_test.cpp FIXTURES patch_server)
  vyr_unit_test(worker_mirror_test SOURCES worker_mirror_test.cpp FIXTURES patch_server)

  # Alone: unit tests sharing the Wine prefix at the same time have ended the launcher mid-run.
  vyr_e2e_test(e2e_update e2e/test_update.py)
  # Patch files only on the manifest's mirrors, a dead one and a spoilt one first (signed launcher).
  vyr_e2e_test(e2e_mirrors e2e/test_mirrors.py)
endif()

if(WIN32)
  # Whole runs against nginx: reconnecting when every connection closes, certificates on later connections.
  vyr_unit_test(worker_session_test SOURCES worker_session_test.cpp FIXTURES nginx_server)
  target_link_libraries(worker_session_test PRIVATE vyr_zip_writer)
endif()

if(WIN32)
  vyr_unit_test(worker_resume_test SOURCES worker_resume_test.cpp FIXTURES nginx_server)
endif()
