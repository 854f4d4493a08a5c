# The tests' own tools.  None of them is needed to build the program: one that
# is missing is named here, and the tests that need it fail saying so
# (GoogleTest, Python) or skip (strace, valgrind).
include(GoogleTest)

# Stands in for tests that cannot be built, so that a test run fails and says
# why instead of passing without them.
function(permutations_missing_test name why)
  add_test(NAME ${name} COMMAND ${CMAKE_COMMAND} -E echo "${why}")
  set_tests_properties(${name} PROPERTIES WILL_FAIL TRUE)
endfunction()

# GoogleTest, built for the compiler and C++ library in use.  The system's
# package is built against libstdc++, so it serves only builds with that
# library; any other build compiles the sources that Debian's googletest
# package ships.  (PERMUTATIONS_HAVE_LIBSTDCXX comes from Linking.cmake.)
if(PERMUTATIONS_HAVE_LIBSTDCXX AND NOT CMAKE_CROSSCOMPILING)
  find_package(GTest QUIET)
endif()
if(NOT TARGET GTest::gtest_main)
  set(GOOGLETEST_SOURCE_DIR /usr/src/googletest CACHE PATH "GoogleTest sources")
  if(EXISTS ${GOOGLETEST_SOURCE_DIR}/CMakeLists.txt)
    set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
    set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
    add_subdirectory(${GOOGLETEST_SOURCE_DIR} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
    # Its warnings are its own business, not reasons to fail our build.
    foreach(target gtest gtest_main gmock gmock_main)
      if(TARGET ${target})
        set_target_properties(${target} PROPERTIES COMPILE_WARNING_AS_ERROR OFF)
      endif()
    endforeach()
    if(NOT TARGET GTest::gtest_main)  # older sources do not name it so
      add_library(GTest::gtest_main ALIAS gtest_main)
    endif()
    message(STATUS "Building GoogleTest from ${GOOGLETEST_SOURCE_DIR}")
  endif()
endif()
set(PERMUTATIONS_GTEST_MISSING "")
if(NOT TARGET GTest::gtest_main)
  string(CONCAT PERMUTATIONS_GTEST_MISSING "GoogleTest is missing: install libgtest-dev, or "
                "googletest for its sources, or set GOOGLETEST_SOURCE_DIR")
  message(WARNING "${PERMUTATIONS_GTEST_MISSING}; the unit tests will fail until then.")
endif()

find_package(Python3 COMPONENTS Interpreter)
set(PERMUTATIONS_PYTHON_MISSING "")
if(NOT Python3_FOUND)
  set(PERMUTATIONS_PYTHON_MISSING "python3 is missing: the program's tests need it")
  message(WARNING "${PERMUTATIONS_PYTHON_MISSING}; they will fail until it is installed.")
endif()

foreach(tool strace valgrind)
  find_program(PERMUTATIONS_${tool} ${tool})
  if(NOT PERMUTATIONS_${tool})
    message(STATUS "${tool} is missing: the tests that need it will be skipped")
  endif()
endforeach()
