# Read by CTest before a test run: one test per GoogleTest suite of a test
# program, so that a normal run prints a line per suite rather than per case.
# The including file sets `program` (the test program), `labels` and
# `environment` (the tests' LABELS and ENVIRONMENT properties). A suite whose
# every case skipped ends with status 77, which CTest counts as skipped; each
# skipped case and its reason go to the file that FWPACK_TEST_SKIP_LOG names
# in `environment`, printed at the end of the run.
get_filename_component(name "${program}" NAME_WE)
if(NOT EXISTS "${program}")
  # Not built yet: one test that fails and says so.
  add_test("${name}_NOT_BUILT" "${program}")
  return()
endif()
execute_process(COMMAND "${program}" --gtest_list_tests
                OUTPUT_VARIABLE listing ERROR_VARIABLE listing RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(WARNING "${program} --gtest_list_tests failed (${status}):\n${listing}")
  add_test("${name}_NOT_LISTED" "${program}" --gtest_list_tests)
  return()
endif()
# The suites are the lines that do not begin with a space: "Suite." or
# "Instance/Suite." or "Suite/0.  # TypeParam = ...".
string(REGEX MATCHALL "(^|\n)[^ \n][^.\n]*\\." suites "${listing}")
foreach(suite IN LISTS suites)
  string(REGEX REPLACE "^\n|\\.$" "" suite "${suite}")
  add_test("${suite}" "${program}" "--gtest_filter=${suite}.*")
  set_tests_properties("${suite}" PROPERTIES SKIP_RETURN_CODE 77 LABELS "${labels}" ENVIRONMENT "${environment}")
endforeach()
