# The support log: its lines natively, its writer under Wine (rotation, concurrent writers, fallback).
vyr_unit_test(log_line_test SOURCES log_line_test.cpp)
