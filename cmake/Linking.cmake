# How the program is linked: statically where the toolchain can.  That is
# never a reason for configure to fail: where it cannot be had, a status line
# says why and the program is linked dynamically.
#
# Sets PERMUTATIONS_LINK_STATIC, and PERMUTATIONS_HAVE_LIBSTDCXX (whether the
# C++ library is GCC's, which decides how the tests get GoogleTest).
include(CheckCXXSourceCompiles)

check_cxx_source_compiles([[
  #include <cstddef>
  #ifndef __GLIBCXX__
  #error not libstdc++
  #endif
  int main() {}
]] PERMUTATIONS_HAVE_LIBSTDCXX)

# A static program starts with no shared libraries to map and reaches its
# library code without indirection: less memory and a faster inner loop.
option(PERMUTATIONS_STATIC "Link the program statically, where the toolchain can" ON)

set(PERMUTATIONS_LINK_STATIC OFF)
if(PERMUTATIONS_STATIC)
  # A failed check is made again at the next configure, so that installing
  # what it lacked is enough.
  if(DEFINED CACHE{PERMUTATIONS_CAN_LINK_STATIC} AND NOT PERMUTATIONS_CAN_LINK_STATIC)
    unset(PERMUTATIONS_CAN_LINK_STATIC CACHE)
  endif()
  set(CMAKE_REQUIRED_LINK_OPTIONS -static)
  check_cxx_source_compiles([[
    #include <fstream>
    #include <iostream>
    int main() { std::fstream file; std::cout << file.is_open(); }
  ]] PERMUTATIONS_CAN_LINK_STATIC)
  unset(CMAKE_REQUIRED_LINK_OPTIONS)
  if(PERMUTATIONS_CAN_LINK_STATIC)
    set(PERMUTATIONS_LINK_STATIC ON)
  else()
    message(STATUS "Linking the program dynamically: the toolchain cannot link a static "
                   "program (are the static C and C++ libraries installed?)")
  endif()
endif()
