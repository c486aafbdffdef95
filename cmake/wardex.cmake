# Small helpers shared by the project's CMake files.

find_package(Threads REQUIRED)
if(WARDEX_BUILD_TESTS OR WARDEX_BUILD_FUZZ)
  find_package(GTest REQUIRED)
  include(GoogleTest)
endif()

# wardex_test(NAME SOURCES... LIBS ...): one GoogleTest executable registered
# with CTest, each test case its own CTest test so they run in parallel.
function(wardex_test name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gtest GTest::gtest_main GTest::gmock)
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/tests)
  # Tests write their logs and crash reports into the build tree, never into
  # the home folder of whoever runs them.
  gtest_discover_tests(${name} TEST_PREFIX "${name}." DISCOVERY_TIMEOUT 60
    PROPERTIES TIMEOUT 300 ENVIRONMENT "XDG_STATE_HOME=${PROJECT_BINARY_DIR}/test-state")
endfunction()
