# The tests' own tools.  None of them is needed to build the program alone.
# Without GoogleTest or Python there are no tests to run, and configure stops
# saying what to install; the tests that need strace or valgrind skip.
include(CheckCXXSourceCompiles)
include(GoogleTest)

# How long any one test entry may run before it fails with its name, rather
# than a hang taking CI's whole time: over twenty times the slowest entry
# seen on a 2-core machine (program.RandomInput under Wine, 33 s).
set(PERMUTATIONS_TEST_TIMEOUT 900)

# GoogleTest, built for the compiler and C++ library in use.  The system's
# package is built against libstdc++, so it serves only builds with that
# library; any other build compiles the sources that Debian's googletest
# package ships, as the two libraries that the tests need, and nothing else of
# their project (which would also ask for a C compiler).
check_cxx_source_compiles([[
  #include <cstddef>
  #ifndef __GLIBCXX__
  #error not libstdc++
  #endif
  int main() {}
]] PERMUTATIONS_HAVE_LIBSTDCXX)
if(PERMUTATIONS_HAVE_LIBSTDCXX AND NOT CMAKE_CROSSCOMPILING)
  find_package(GTest QUIET)
endif()
if(NOT TARGET GTest::gtest_main)
  set(GOOGLETEST_SOURCE_DIR /usr/src/googletest CACHE PATH "GoogleTest sources")
  set(gtest_dir ${GOOGLETEST_SOURCE_DIR}/googletest)
  if(EXISTS ${gtest_dir}/src/gtest-all.cc)
    find_package(Threads REQUIRED)
    add_library(gtest STATIC EXCLUDE_FROM_ALL ${gtest_dir}/src/gtest-all.cc)
    target_include_directories(gtest SYSTEM PUBLIC ${gtest_dir}/include)
    target_include_directories(gtest PRIVATE ${gtest_dir})
    target_link_libraries(gtest PUBLIC Threads::Threads)
    add_library(gtest_main STATIC EXCLUDE_FROM_ALL ${gtest_dir}/src/gtest_main.cc)
    target_link_libraries(gtest_main PUBLIC gtest)
    # Its warnings are its own business, not reasons to fail our build.
    set_target_properties(gtest gtest_main PROPERTIES COMPILE_WARNING_AS_ERROR OFF)
    add_library(GTest::gtest_main ALIAS gtest_main)
    message(STATUS "Building GoogleTest from ${GOOGLETEST_SOURCE_DIR}")
  endif()
endif()
if(NOT TARGET GTest::gtest_main)
  message(FATAL_ERROR "GoogleTest is missing: install libgtest-dev, or googletest for its "
                      "sources, or set GOOGLETEST_SOURCE_DIR")
endif()

find_package(Python3 3.9 REQUIRED COMPONENTS Interpreter)

# Under Wine (cmake/mingw-w64.cmake), the tests run with address-space
# randomisation off, where the host allows it, and with one persistent server
# for the whole run; see CONTRIBUTING.md.  wine.start makes the prefix and
# waits until Wine has finished setting it up (runs that start meanwhile can
# lose their output) before it starts the server and any test that requires
# PERMUTATIONS_TEST_FIXTURE; wine.stop ends the server after the last of them.
set(PERMUTATIONS_TEST_FIXTURE)
if(WINESERVER)
  execute_process(COMMAND setarch ${CMAKE_HOST_SYSTEM_PROCESSOR} -R true
                  RESULT_VARIABLE setarch_status OUTPUT_QUIET ERROR_QUIET)
  if(setarch_status EQUAL 0)
    set(CMAKE_CROSSCOMPILING_EMULATOR setarch ${CMAKE_HOST_SYSTEM_PROCESSOR} -R ${WINE})
  else()
    message(STATUS "Wine runs the tests with address-space randomisation on: this host "
                   "refuses to turn it off, and a rare Wine start will fail (CONTRIBUTING.md)")
  endif()
  # A server left behind by a run that was cut short would never let --wait
  # return.  The server and the services that the first program starts
  # outlive this test, and must not hold its output open, nor a later one's.
  add_test(NAME wine.start
           COMMAND sh -c [[server=$1; shift; "$server" -k 2>/dev/null
                           "$@" wineboot --init && "$server" --wait &&
                           { "$server" -p && "$@" wineboot; } </dev/null >/dev/null 2>&1]]
                   sh ${WINESERVER} ${CMAKE_CROSSCOMPILING_EMULATOR})
  add_test(NAME wine.stop COMMAND sh -c [["$1" -k && "$1" --wait]] sh ${WINESERVER})
  set_tests_properties(wine.start PROPERTIES FIXTURES_SETUP wine
                                              TIMEOUT ${PERMUTATIONS_TEST_TIMEOUT})
  set_tests_properties(wine.stop PROPERTIES FIXTURES_CLEANUP wine
                                             TIMEOUT ${PERMUTATIONS_TEST_TIMEOUT})
  set(PERMUTATIONS_TEST_FIXTURE FIXTURES_REQUIRED wine)
endif()
