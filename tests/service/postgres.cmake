# PostgreSQL for the service's tests: one private cluster for the whole run (a CTest fixture, started and
# stopped around the tests that need it), with a fresh database per test inside it. The service's test suite
# runs a second time against it (pg.* tests), so every case of its tables runs on both backends. Also the
# multi-instance runs of the real program and the check of the deployment files.
set(service_pg_dir ${CMAKE_CURRENT_BINARY_DIR}/pg)
set(service_pg_test_properties FIXTURES_REQUIRED postgres ENVIRONMENT REPORT_SERVICE_TEST_PG=${service_pg_dir}/url)

add_test(NAME service.pg.start COMMAND ${CMAKE_SOURCE_DIR}/tools/pg-cluster.sh start ${service_pg_dir})
add_test(NAME service.pg.stop COMMAND ${CMAKE_SOURCE_DIR}/tools/pg-cluster.sh stop ${service_pg_dir})
set_tests_properties(service.pg.start PROPERTIES FIXTURES_SETUP postgres LABELS "service;postgres" TIMEOUT 120)
set_tests_properties(service.pg.stop PROPERTIES FIXTURES_CLEANUP postgres LABELS "service;postgres" TIMEOUT 120)

gtest_discover_tests(service_tests TEST_PREFIX pg. DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60
  PROPERTIES LABELS service TIMEOUT 120 ${service_pg_test_properties})

find_package(Python3 REQUIRED COMPONENTS Interpreter)
foreach(what race kill restart copy proxy revoke ready)
  add_test(NAME service.pg.${what}
    COMMAND Python3::Interpreter ${CMAKE_CURRENT_SOURCE_DIR}/service_pg_e2e.py ${what} $<TARGET_FILE:report-service>
            ${CMAKE_CURRENT_BINARY_DIR}/e2e-pg-${what})
  set_tests_properties(service.pg.${what} PROPERTIES LABELS "service;postgres" TIMEOUT 240 ${service_pg_test_properties})
endforeach()

add_test(NAME service.deploy
  COMMAND ${CMAKE_SOURCE_DIR}/deploy/check.sh $<TARGET_FILE:report-service> ${CMAKE_CURRENT_BINARY_DIR}/deploy-check)
set_tests_properties(service.deploy PROPERTIES LABELS service TIMEOUT 60)
