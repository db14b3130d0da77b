# End-to-end proofs that no fault on the update path leaves a half-written game or a recorded version
# ahead of the disk: hostile server modes, a full disk, a bad manifest line, an Updater found only by
# search in the shared Wine prefix, the launcher killed mid-update and started again, and every file of
# a step flushed to disk before the step is recorded.
if(WIN32)
  vyr_e2e_test(e2e_update_faults e2e/test_update_faults.py)
  vyr_e2e_test(e2e_kill_restart e2e/test_kill_restart.py)
  vyr_e2e_test(e2e_update_durable e2e/test_update_durable.py)
endif()
