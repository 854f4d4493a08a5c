# How the program is linked: statically where the toolchain can, and on
# request with what each line touches grouped onto few pages (see
# app/hot_path.txt).  Neither is ever a reason for configure to fail: where one
# cannot be had, a status line says why and the program is linked without it.
#
# Sets PERMUTATIONS_LINK_STATIC and PERMUTATIONS_HAVE_LIBSTDCXX (whether the
# C++ library is GCC's); PERMUTATIONS_CAN_HOT_LAYOUT, which is checked only
# where the layout is asked for or the benchmark is built, with
# PERMUTATIONS_HOT_LAYOUT_WHY_NOT where that check fails; and
# PERMUTATIONS_USE_HOT_LAYOUT, whether the program has the layout.
include(CheckCXXSourceCompiles)
include(CheckLinkerFlag)

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
option(PERMUTATIONS_HOT_LAYOUT
       "Group what each line touches onto few pages, where the toolchain can" OFF)

# A check that failed is made again at the next configure, so that installing
# what it lacked is enough.
macro(permutations_recheck_failed result)
  if(DEFINED CACHE{${result}} AND NOT ${result})
    unset(${result} CACHE)
  endif()
endmacro()

set(PERMUTATIONS_LINK_STATIC OFF)
if(PERMUTATIONS_STATIC)
  set(CMAKE_REQUIRED_LINK_OPTIONS -static)
  permutations_recheck_failed(PERMUTATIONS_CAN_LINK_STATIC)
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

# The ordering file names the functions, tables and state of one program built
# with GCC's C++ library and the GNU C library, and only lld reads it.  It works
# only where the program holds that library code itself.
set(PERMUTATIONS_CAN_HOT_LAYOUT OFF)
set(why_not "")
if(PERMUTATIONS_HOT_LAYOUT OR PERMUTATIONS_BENCH)
  if(NOT CMAKE_SYSTEM_NAME STREQUAL "Linux")
    set(why_not "it is made for Linux")
  elseif(NOT PERMUTATIONS_LINK_STATIC)
    set(why_not "the program is not linked statically")
  elseif(CMAKE_INTERPROCEDURAL_OPTIMIZATION)
    set(why_not "lld cannot link GCC's link-time optimisation objects")
  else()
    permutations_recheck_failed(PERMUTATIONS_HAVE_GLIBC)
    check_cxx_source_compiles([[
      #include <cstdio>
      #ifndef __GLIBC__
      #error not glibc
      #endif
      int main() {}
    ]] PERMUTATIONS_HAVE_GLIBC)
    if(NOT PERMUTATIONS_HAVE_LIBSTDCXX OR NOT PERMUTATIONS_HAVE_GLIBC)
      set(why_not "it names libstdc++ and glibc, and this toolchain has others")
    else()
      permutations_recheck_failed(PERMUTATIONS_HAVE_LLD)
      check_linker_flag(CXX -fuse-ld=lld PERMUTATIONS_HAVE_LLD)
      if(NOT PERMUTATIONS_HAVE_LLD)
        set(why_not "the compiler cannot link with lld (Debian: apt-get install lld)")
      endif()
    endif()
  endif()
  if(NOT why_not)
    set(PERMUTATIONS_CAN_HOT_LAYOUT ON)
  endif()
endif()
set(PERMUTATIONS_HOT_LAYOUT_WHY_NOT "${why_not}")

set(PERMUTATIONS_USE_HOT_LAYOUT OFF)
if(PERMUTATIONS_HOT_LAYOUT AND PERMUTATIONS_CAN_HOT_LAYOUT)
  set(PERMUTATIONS_USE_HOT_LAYOUT ON)
  message(STATUS "Linking the program with lld and the hot-path layout of app/hot_path.txt")
elseif(PERMUTATIONS_HOT_LAYOUT)
  message(STATUS "Linking the program without the hot-path layout: "
                 "${PERMUTATIONS_HOT_LAYOUT_WHY_NOT}")
endif()
