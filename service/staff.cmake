# Staff access, the support desk's rules and the operator's signals, one library per layer:
#   service/domain: credentials, sessions, roles, the login wait, the audit entry, the enrolment signals,
#                   the support desk's look-ups
#   service/storage: the staff, session and audit tables and the support desk's reads, on either database
#   service/pages:  the audit log's CSV, the bodies of the staff pages
#   service/app:    the metrics exposition and the service's figures, JSON log lines, the staff command
#                   line, signing staff in and out
pkg_check_modules(SODIUM REQUIRED IMPORTED_TARGET libsodium)

add_library(report_staff_domain STATIC
  domain/credentials.cpp domain/session.cpp domain/roles.cpp domain/login_throttle.cpp domain/audit.cpp
  domain/signals.cpp domain/support.cpp)
target_link_libraries(report_staff_domain PUBLIC report_domain PkgConfig::SODIUM)

add_library(report_staff_pages STATIC pages/audit_csv.cpp pages/staff_pages.cpp)
target_link_libraries(report_staff_pages PUBLIC report_staff_domain)
# The wave pages are an admin's: they carry the staff bar and the session's form token, and audit each step.
target_link_libraries(report_pages PUBLIC report_staff_pages)
target_link_libraries(report_service_core PUBLIC report_staff_pages)

# Both backends' staff tables; OpenStaffStore chooses by the form of --db.
add_library(report_staff_storage STATIC
  storage/staff_store.cpp storage/sqlite/staff_sqlite.cpp storage/postgres/staff_postgres.cpp)
target_link_libraries(report_staff_storage PUBLIC report_staff_domain report_storage SQLite::SQLite3 PkgConfig::LIBPQ)

add_library(report_staff_app STATIC app/metrics.cpp app/operator_signals.cpp app/staff_cli.cpp app/staff_access.cpp
  app/staff_desk.cpp)
target_link_libraries(report_staff_app PUBLIC report_staff_storage report_staff_pages report_service_core Threads::Threads)

foreach(layer report_staff_domain report_staff_pages report_staff_storage report_staff_app)
  add_dependencies(${layer} layer_check)
endforeach()
target_link_libraries(report-service PRIVATE report_staff_app)
# The backends write a support change's audit entry in the change's own transaction.
target_link_libraries(report_storage_sqlite PUBLIC report_staff_domain)
target_link_libraries(report_storage_postgres PUBLIC report_staff_domain)
