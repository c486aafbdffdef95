# Small helpers shared by the project's CMake files.

find_package(Threads REQUIRED)
if(WARDEX_BUILD_TESTS OR WARDEX_BUILD_FUZZ)
  if(CMAKE_CROSSCOMPILING)
    # No GoogleTest is packaged for the target: build Debian's sources with
    # the cross compiler, warnings as their authors left them.
    set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
    get_property(wardex_compile_options DIRECTORY PROPERTY COMPILE_OPTIONS)
    set_property(DIRECTORY PROPERTY COMPILE_OPTIONS "")
    add_subdirectory(/usr/src/googletest ${PROJECT_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
    set_property(DIRECTORY PROPERTY COMPILE_OPTIONS "${wardex_compile_options}")
  else()
    find_package(GTest REQUIRED)
  endif()
  include(GoogleTest)
endif()

# Windows finds a program's DLLs beside it: every program and DLL of the
# build goes into one folder.
if(WIN32)
  set(CMAKE_RUNTIME_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/bin)
  # GCC's emulated TLS frees a thread's thread_local variables before their
  # destructors run: a thread_local object with a destructor fails the link
  # ("undefined reference to __wrap___cxa_thread_atexit"); platform/thread_end.h
  # gives per-thread objects instead.
  add_link_options(-Wl,--wrap=__cxa_thread_atexit)
endif()

# Windows tests run under wine64, in a prefix of their own inside the build
# tree (scripts/wine-run makes it on first use).
if(WIN32 AND CMAKE_CROSSCOMPILING)
  set(CMAKE_CROSSCOMPILING_EMULATOR "${PROJECT_SOURCE_DIR}/scripts/wine-run;${PROJECT_BINARY_DIR}/wine-prefix")
endif()

# wardex_test(NAME SOURCES... LIBS ... [PROPERTIES ...]): one GoogleTest
# executable registered with CTest, each test case its own CTest test so they
# run in parallel; PROPERTIES are added to every case's test properties.
function(wardex_test name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS;PROPERTIES" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gtest GTest::gtest_main GTest::gmock)
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/tests)
  # Tests write their logs and crash reports into the build tree, never into
  # the home folder of whoever runs them.
  gtest_discover_tests(${name} TEST_PREFIX "${name}." DISCOVERY_TIMEOUT 60
    PROPERTIES TIMEOUT 300 ENVIRONMENT "XDG_STATE_HOME=${PROJECT_BINARY_DIR}/test-state"
    ${ARG_PROPERTIES})
endfunction()
