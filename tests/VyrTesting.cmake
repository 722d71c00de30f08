include(${CMAKE_CURRENT_LIST_DIR}/VyrTestLabels.cmake)

# Qt and GoogleTest parsed once for every test executable. QtTest stays out: its headers
# test a macro that differs per target, which would make the header unusable elsewhere.
file(CONFIGURE OUTPUT ${CMAKE_CURRENT_BINARY_DIR}/vyr_test_pch.cpp CONTENT "")
add_library(vyr_test_pch OBJECT ${CMAKE_CURRENT_BINARY_DIR}/vyr_test_pch.cpp)
target_link_libraries(vyr_test_pch PRIVATE GTest::gtest GTest::gmock Qt6::Core)
set_target_properties(vyr_test_pch PROPERTIES AUTOMOC OFF)
target_precompile_headers(vyr_test_pch PRIVATE
  <QByteArray> <QCoreApplication> <QDeadlineTimer> <QDir> <QFile> <QMap> <QProcess>
  <QRegularExpression> <QSettings> <QString> <QStringList> <QTemporaryDir> <QThread>
  <gmock/gmock.h> <gtest/gtest.h>)

# ccache takes a compile that uses the precompiled header only when told to be sloppy about
# its macros and time stamps; the header's own hash still keys every entry.
set(VYR_TEST_LAUNCHER ${CMAKE_CXX_COMPILER_LAUNCHER})
if(CMAKE_CXX_COMPILER_LAUNCHER MATCHES "ccache")
  set(VYR_TEST_LAUNCHER ${CMAKE_COMMAND} -E env CCACHE_SLOPPINESS=pch_defines,time_macros
                        ${CMAKE_CXX_COMPILER_LAUNCHER})
endif()
set_target_properties(vyr_test_pch PROPERTIES CXX_COMPILER_LAUNCHER "${VYR_TEST_LAUNCHER}")

# vyr_add_test(NAME SOURCES ... LIBS ... [LABEL <label>] [PROPERTIES ...]): a GoogleTest
# executable registered with CTest, one test per case, labelled unit unless told otherwise;
# it links the shared harness (tests/support), whose Qt main runs the cases.
function(vyr_add_test name)
  cmake_parse_arguments(ARG "" "LABEL" "SOURCES;LIBS;PROPERTIES" ${ARGN})
  if(NOT ARG_LABEL)
    set(ARG_LABEL unit)
  endif()
  vyr_test_label_properties(${ARG_LABEL} label_properties)
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} vyr_test_support GTest::gtest GTest::gmock Qt6::Core Qt6::Test)
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/src ${PROJECT_SOURCE_DIR}/tests)
  target_precompile_headers(${name} REUSE_FROM vyr_test_pch)
  # gtest_discover_tests keeps only the first entry of an ENVIRONMENT list, so the
  # environment comes in through the launcher, which also judges how each case ended.
  set_target_properties(${name} PROPERTIES
    RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests-bin
    CXX_COMPILER_LAUNCHER "${VYR_TEST_LAUNCHER}"
    CROSSCOMPILING_EMULATOR "${PROJECT_SOURCE_DIR}/tests/run-gtest-case.sh;${VYR_APP_DIR};${PROJECT_SOURCE_DIR}")
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 NO_PRETTY_VALUES
                       PROPERTIES ${label_properties} ${ARG_PROPERTIES})
endfunction()
