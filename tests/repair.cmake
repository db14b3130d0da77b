# The pure side of checking and repairing the game folder: the whole-build list, the verification
# record and the check plan.
vyr_unit_test(repair_formats_test SOURCES repair_formats_test.cpp)
vyr_unit_test(repair_switch_test SOURCES repair_switch_test.cpp)

if(WIN32)
  # One damaged file fetched whole from the local server, outside a whole check.
  vyr_unit_test(worker_repair_fetch_test SOURCES worker_repair_fetch_test.cpp FIXTURES patch_server)
  # A game folder built, checked and repaired through its life by the signed launcher.
  vyr_e2e_test(e2e_repair e2e/test_repair.py TIMEOUT 600)
endif()
