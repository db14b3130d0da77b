# Delta payloads: the decoder natively under the sanitizers, against frames the host's libzstd makes;
# applying payloads made by the host's zstd command line, under Wine.
if(NOT WIN32)
  vyr_unit_test(delta_decode_test SOURCES delta_decode_test.cpp)
endif()
