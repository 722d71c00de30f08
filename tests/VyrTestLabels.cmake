# Every test carries exactly one label, and its label bounds how long each case may run
# (seconds), in the sanitizer build too: a hung unit case costs a minute, not the suite's
# budget. A fuzz case is a timed run of one target (fuzz/).
set(VYR_TEST_LABELS unit e2e browser package fuzz)
set(VYR_TEST_TIMEOUT_unit 60)
set(VYR_TEST_TIMEOUT_e2e 180)
set(VYR_TEST_TIMEOUT_browser 240)
set(VYR_TEST_TIMEOUT_package 300)
set(VYR_TEST_TIMEOUT_fuzz 120)

# vyr_test_label_properties(<label> <out var>): the test properties of a label.
function(vyr_test_label_properties label out)
  if(NOT label IN_LIST VYR_TEST_LABELS)
    message(FATAL_ERROR "Unknown test label '${label}' (one of: ${VYR_TEST_LABELS})")
  endif()
  set(${out} LABELS ${label} TIMEOUT ${VYR_TEST_TIMEOUT_${label}} PARENT_SCOPE)
endfunction()
