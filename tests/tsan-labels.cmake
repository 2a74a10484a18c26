# Run by ctest after the tests of each area were discovered: each area's
# discovery leaves the names of its tests in <area>_tests_TESTS.
foreach(area engine transport nox aspi raid)
  if(${area}_tests_TESTS)
    set_tests_properties(${${area}_tests_TESTS} PROPERTIES LABELS "unit;tsan")
  endif()
endforeach()
