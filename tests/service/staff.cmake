# Tests of staff access and the operator's signals: the rules without a database, and the metrics exposition
# read back by the Prometheus client's own parser.
file(GLOB staff_test_sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_LIST_DIR}/staff/*_test.cpp)
add_executable(staff_tests ${staff_test_sources})
target_link_libraries(staff_tests PRIVATE report_staff_app report_service_core zorv GTest::gtest_main)
gtest_discover_tests(staff_tests DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60
  PROPERTIES LABELS service TIMEOUT 120)
# The staff tables once more on the PostgreSQL cluster of postgres.cmake.
gtest_discover_tests(staff_tests TEST_PREFIX pg. TEST_FILTER "StaffStore*" DISCOVERY_MODE PRE_TEST
  DISCOVERY_TIMEOUT 60 PROPERTIES LABELS service TIMEOUT 120 ${service_pg_test_properties})

add_executable(metrics_sample ${CMAKE_CURRENT_LIST_DIR}/staff/metrics_sample.cpp)
target_link_libraries(metrics_sample PRIVATE report_staff_app)
# The client is a Debian package: the system's interpreter has it even where another python3 comes first.
set(prometheus_python /usr/bin/python3)
foreach(candidate IN ITEMS ${Python3_EXECUTABLE} /usr/bin/python3)
  execute_process(COMMAND ${candidate} -c "import prometheus_client.parser" RESULT_VARIABLE missing
                  OUTPUT_QUIET ERROR_QUIET)
  if(missing EQUAL 0)
    set(prometheus_python ${candidate})
    break()
  endif()
endforeach()
add_test(NAME service.metrics_exposition
  COMMAND ${prometheus_python} ${CMAKE_CURRENT_LIST_DIR}/staff/metrics_exposition.py $<TARGET_FILE:metrics_sample>)
set_tests_properties(service.metrics_exposition PROPERTIES LABELS service TIMEOUT 120)

add_test(NAME service.staff_cli
  COMMAND Python3::Interpreter ${CMAKE_CURRENT_LIST_DIR}/staff/staff_cli_e2e.py $<TARGET_FILE:report-service>)
set_tests_properties(service.staff_cli PROPERTIES LABELS service TIMEOUT 120)

add_test(NAME service.staff_desk
  COMMAND ${prometheus_python} ${CMAKE_CURRENT_LIST_DIR}/staff/staff_desk_e2e.py $<TARGET_FILE:report-service>)
set_tests_properties(service.staff_desk PROPERTIES LABELS service TIMEOUT 120)

# A support person's whole path in headless Chromium; the account page's screenshot is left in the build folder.
add_test(NAME service.support_flow
  COMMAND /usr/bin/python3 ${CMAKE_CURRENT_LIST_DIR}/staff/support_flow_e2e.py $<TARGET_FILE:report-service>
          ${CMAKE_BINARY_DIR})
set_tests_properties(service.support_flow PROPERTIES LABELS service TIMEOUT 180)
