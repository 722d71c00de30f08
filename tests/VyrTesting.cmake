# vyr_add_test(NAME SOURCES ... LIBS ... [PROPERTIES ...]): a GoogleTest executable
# registered with CTest.
function(vyr_add_test name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS;PROPERTIES" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gtest GTest::gmock Qt6::Core Qt6::Test)
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/src ${PROJECT_SOURCE_DIR}/tests)
  # gtest_discover_tests keeps only the first entry of an ENVIRONMENT list, so the
  # environment comes in through the launcher of every discovered test instead.
  set_target_properties(${name} PROPERTIES
    RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests-bin
    CROSSCOMPILING_EMULATOR
      "${CMAKE_COMMAND};-E;env;QT_QPA_PLATFORM=offscreen;VYR_APP_DIR=${VYR_APP_DIR};VYR_SOURCE_DIR=${PROJECT_SOURCE_DIR}")
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 NO_PRETTY_VALUES PROPERTIES ${ARG_PROPERTIES})
endfunction()
