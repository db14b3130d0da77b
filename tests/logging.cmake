# The support log: its lines natively, its writer under Wine (rotation, concurrent writers, fallback).
vyr_unit_test(log_line_test SOURCES log_line_test.cpp)
if(WIN32)
  vyr_unit_test(support_log_test SOURCES support_log_test.cpp)
endif()
