# Fails unless every test of the build in BUILD_DIR carries one of the labels in LABELS.
#   cmake -DCTEST=ctest -DBUILD_DIR=build/dev "-DLABELS=unit;system" -P labels.cmake
cmake_minimum_required(VERSION 3.25)
list(JOIN LABELS "|" any)
execute_process(COMMAND ${CTEST} --test-dir ${BUILD_DIR} -N -LE "^(${any})$"
                OUTPUT_VARIABLE listed RESULT_VARIABLE rc)
if(NOT rc EQUAL 0 OR NOT listed MATCHES "Total Tests: ([0-9]+)")
  message(FATAL_ERROR "ctest could not list the tests:\n${listed}")
endif()
if(NOT CMAKE_MATCH_1 EQUAL 0)
  string(REGEX MATCHALL "Test +#[0-9]+: [^\n]+" unlabelled "${listed}")
  list(JOIN unlabelled "\n  " unlabelled)
  message(FATAL_ERROR "Every test needs one label of ${LABELS} (PROPERTIES LABELS in "
                      "gtest_discover_tests, or set_tests_properties; README, \"Tests\"):\n"
                      "  ${unlabelled}")
endif()
