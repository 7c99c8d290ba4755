# Staff access, the support desk's rules and the operator's signals, one library per layer:
#   service/domain: credentials, sessions, roles, the login wait, the audit entry, the enrolment signals,
#                   the support desk's look-ups
#   service/storage: the staff, session and audit tables on either database
#   service/pages:  the audit log's CSV, the bodies of the staff pages
#   service/app:    the metrics exposition and the service's figures, JSON log lines, the staff command
#                   line, signing staff in and out
pkg_check_modules(SODIUM REQUIRED IMPORTED_TARGET libsodium)

add_library(report_service_staff_domain STATIC
  domain/credentials.cpp domain/session.cpp domain/roles.cpp domain/login_throttle.cpp domain/audit.cpp
  domain/signals.cpp domain/support.cpp)
target_include_directories(report_service_staff_domain PUBLIC ${CMAKE_SOURCE_DIR})
target_link_libraries(report_service_staff_domain PUBLIC zorv_text PkgConfig::SODIUM report_service_core)

add_library(report_service_staff_pages STATIC pages/audit_csv.cpp pages/staff_pages.cpp)
target_link_libraries(report_service_staff_pages PUBLIC report_service_staff_domain report_service_core)

# Both backends' staff tables; OpenStaffStore chooses by the form of --db.
add_library(report_service_staff_storage STATIC
  storage/staff_store.cpp storage/sqlite/staff_sqlite.cpp storage/postgres/staff_postgres.cpp)
target_link_libraries(report_service_staff_storage PUBLIC report_service_staff_domain report_service_core
  SQLite::SQLite3 PkgConfig::LIBPQ)

add_library(report_service_ops STATIC app/metrics.cpp app/operator_signals.cpp app/staff_cli.cpp app/staff_access.cpp)
target_link_libraries(report_service_ops PUBLIC report_service_staff_storage Threads::Threads)

target_link_libraries(report-service PRIVATE report_service_ops)
