# Run by CTest at the end of a test run (CTEST_CUSTOM_POST_TEST): prints each
# case that skipped in this run with its reason, which CTest itself shows only
# with -V. SKIP_LOG is the file the test programs appended them to; the run
# removed it before its first test (CTEST_CUSTOM_PRE_TEST).
#   cmake -DSKIP_LOG=<file> -P print_skips.cmake
if(NOT EXISTS "${SKIP_LOG}")
  return()
endif()
file(STRINGS "${SKIP_LOG}" skips)
list(REMOVE_DUPLICATES skips)
list(SORT skips)
list(LENGTH skips count)
if(count EQUAL 1)
  set(heading "1 skipped, and why:")
else()
  set(heading "${count} skipped, and why:")
endif()
list(JOIN skips "\n\t" lines)
execute_process(COMMAND ${CMAKE_COMMAND} -E echo "\n${heading}\n\t${lines}")
