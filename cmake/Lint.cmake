# The lint target: clang-tidy and cppcheck over the program's sources, a
# clang-format check of every C++ file, pyflakes over every Python script and
# shellcheck over every shell script.  Any finding fails the build; the only
# suppressions are inline, each with its reason.
find_program(CLANG_TIDY NAMES clang-tidy clang-tidy-14 REQUIRED)
find_program(CPPCHECK cppcheck REQUIRED)
find_program(CLANG_FORMAT NAMES clang-format clang-format-14 REQUIRED)
find_program(PYFLAKES NAMES pyflakes3 pyflakes REQUIRED)
find_program(SHELLCHECK shellcheck REQUIRED)

# The tests are left to the format check: the GoogleTest macros trip checks
# meant for program code.
file(GLOB LINT_SOURCES RELATIVE ${PROJECT_SOURCE_DIR} CONFIGURE_DEPENDS
     ${PROJECT_SOURCE_DIR}/engine/*.cpp ${PROJECT_SOURCE_DIR}/app/*.cpp
     ${PROJECT_SOURCE_DIR}/bench/*.cpp)
list(FILTER LINT_SOURCES EXCLUDE REGEX "_test\\.cpp$")
file(GLOB FORMAT_SOURCES RELATIVE ${PROJECT_SOURCE_DIR} CONFIGURE_DEPENDS
     ${PROJECT_SOURCE_DIR}/engine/*.cpp ${PROJECT_SOURCE_DIR}/engine/*.h
     ${PROJECT_SOURCE_DIR}/app/*.cpp ${PROJECT_SOURCE_DIR}/app/*.h
     ${PROJECT_SOURCE_DIR}/bench/*.cpp)
file(GLOB PYTHON_SOURCES RELATIVE ${PROJECT_SOURCE_DIR} CONFIGURE_DEPENDS
     ${PROJECT_SOURCE_DIR}/app/*.py ${PROJECT_SOURCE_DIR}/bench/*.py)
set(SHELL_SOURCES .ci/run bench/pause)

add_custom_target(lint ALL
  COMMAND ${CLANG_TIDY} -p ${CMAKE_BINARY_DIR} --quiet ${LINT_SOURCES}
  COMMAND ${CPPCHECK} --std=c++17 --language=c++ -I ${PROJECT_SOURCE_DIR}
          --enable=warning,style,performance,portability --inline-suppr
          --suppress=missingIncludeSystem --error-exitcode=1 --quiet ${LINT_SOURCES}
  COMMAND ${CLANG_FORMAT} --dry-run --Werror ${FORMAT_SOURCES}
  COMMAND ${PYFLAKES} ${PYTHON_SOURCES}
  COMMAND ${SHELLCHECK} ${SHELL_SOURCES}
  WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
  COMMENT "clang-tidy, cppcheck, clang-format, pyflakes and shellcheck"
  VERBATIM)
