# Where the shipped 32-bit build runs its tests. Its suites run in the 64-bit prefix, behind WoW64 as on
# most players' machines (tests/CMakeLists.txt, tests/e2e); here: the survey's tests once more on a 32-bit
# Windows, and its survey against the 64-bit build's on the same 64-bit Windows.
# Where this machine cannot run 32-bit programs, each of those runs is one test that says why and is
# counted as skipped.
execute_process(COMMAND ${CMAKE_SOURCE_DIR}/tools/wine-env.sh probe32 OUTPUT_VARIABLE zorv_no_32bit
  OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE probe_rc)
if(NOT probe_rc EQUAL 0)
  message(STATUS "${zorv_no_32bit}")
  foreach(run wow64.unit_tests wow64.win_tests win32.survey e2e.shipped_program)
    add_test(NAME ${run} COMMAND ${CMAKE_SOURCE_DIR}/tools/wine-env.sh probe32)
    set_tests_properties(${run} PROPERTIES LABELS wine SKIP_RETURN_CODE 77)
  endforeach()
  return()
endif()
set(zorv_no_32bit "")

add_test(NAME wine32.up COMMAND ${CMAKE_SOURCE_DIR}/tools/wine-env.sh up)
add_test(NAME wine32.down COMMAND ${CMAKE_SOURCE_DIR}/tools/wine-env.sh down)
set_tests_properties(wine32.up PROPERTIES FIXTURES_SETUP wine32 TIMEOUT 120 ENVIRONMENT ZORV_WINE_ARCH=win32)
set_tests_properties(wine32.down PROPERTIES FIXTURES_CLEANUP wine32 ENVIRONMENT ZORV_WINE_ARCH=win32)
# The list comes from the 64-bit prefix (the same program, the same tests); the runs use the 32-bit one.
gtest_discover_tests(win_tests DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 120 NO_PRETTY_VALUES
  TEST_PREFIX win32. TEST_FILTER "SurveyRegistry.*:Wmi.*:VariantToTextWin.*:WholeSurvey.*:NativeSystem.*:CpuClock.*"
  PROPERTIES LABELS wine32 FIXTURES_REQUIRED wine32 TIMEOUT 120 ENVIRONMENT ZORV_WINE_ARCH=win32)

set(ZORV_WIN64_BUILD ${CMAKE_BINARY_DIR}/../win64 CACHE PATH "The 64-bit build whose survey the shipped one must equal")
# A plain path: an executable target here would be started through the emulator.
add_test(NAME wow64.survey_equals_64bit_build COMMAND /usr/bin/python3
  ${CMAKE_CURRENT_SOURCE_DIR}/win/compare_surveys.py $<TARGET_FILE:survey> ${ZORV_WIN64_BUILD}/survey.exe)
set_tests_properties(wow64.survey_equals_64bit_build PROPERTIES LABELS wine FIXTURES_REQUIRED wine TIMEOUT 120
  SKIP_RETURN_CODE 77)
