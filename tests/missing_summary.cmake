# Run by ctest after the tests (CTEST_CUSTOM_POST_TEST): one line naming the
# Debian packages whose absence skipped tests, and the command that installs
# them. Each file in MISSING_DIR is named after a package and lists, a line
# each, the tests that wanted it. Prints nothing when nothing was missing.
file(GLOB packages RELATIVE "${MISSING_DIR}" "${MISSING_DIR}/*")
if(NOT packages)
  return()
endif()
list(SORT packages)

set(tests)
foreach(package IN LISTS packages)
  file(STRINGS "${MISSING_DIR}/${package}" names)
  list(APPEND tests ${names})
endforeach()
list(REMOVE_DUPLICATES tests)
list(LENGTH tests count)
if(count EQUAL 1)
  set(count "1 test")
else()
  set(count "${count} tests")
endif()

# The command as the user can type it in the shell that started the run
# (ctest itself works in the build tree, but PWD is still the shell's).
set(shell_dir "$ENV{PWD}")
if(shell_dir)
  file(REAL_PATH "${shell_dir}" shell_dir)
endif()
file(REAL_PATH "${SOURCE_DIR}" SOURCE_DIR)
if(shell_dir STREQUAL SOURCE_DIR)
  set(command tools/install-deps.sh)
else()
  set(command "${SOURCE_DIR}/tools/install-deps.sh")
endif()
execute_process(COMMAND id -u OUTPUT_VARIABLE uid OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
if(NOT uid STREQUAL "0")
  set(command "sudo ${command}")
endif()

if("$ENV{KORVANE_REQUIRE_ALL_TOOLS}" STREQUAL "1")
  set(outcome "Failed")
else()
  set(outcome "Skipped")
endif()
list(JOIN packages ", " packages)
message(NOTICE "${outcome} ${count}: missing Debian packages ${packages}. Install them all with: ${command}")
