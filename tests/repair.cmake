# The pure side of checking and repairing the game folder: the whole-build list, the verification
# record and the check plan.
vyr_unit_test(repair_formats_test SOURCES repair_formats_test.cpp)
