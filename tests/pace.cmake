# The download speed limit: pacing and the per-user file's text.
vyr_unit_test(rate_limiter_test SOURCES rate_limiter_test.cpp)
