#pragma once
// The staff desk's routes: login and logout, the audit log, search, account and machine pages, the
// suspicious list, and the health checks. Its work (hashing, look-ups) runs where the service runs its admin
// reads, never on the I/O threads; every action is audited.
#include <functional>
#include <memory>
#include <mutex>

#include "service/app/operator_signals.h"
#include "service/app/service.h"
#include "service/app/staff_access.h"
#include "service/storage/staff_store.h"

namespace Service {

class StaffDesk {
public:
    using Clock = std::function<int64_t()>;
    // Runs work off the I/O threads (ReportService::RunBlocking); false when it is not taken.
    using Runner = std::function<bool(std::function<void()>)>;
    // enrolments: the desk's own connection for support's changes to enrolments (revoke, restore, erase).
    StaffDesk(std::unique_ptr<StaffStore> store, std::unique_ptr<Storage> enrolments, Clock clock);
    // Until it is given, every staff route answers 503.
    void SetRunner(Runner run) { m_run = std::move(run); }
    // Why reports cannot be stored now (ReportService::Unready), for /readyz; empty while they can.
    void SetReadiness(std::function<std::string()> unready) { m_unready = std::move(unready); }
    // The token that lets a scraper from elsewhere read /metrics.
    void SetMetricsToken(std::string token) { m_metricsToken = std::move(token); }
    StaffDesk(const StaffDesk&) = delete;
    StaffDesk& operator=(const StaffDesk&) = delete;

    // ServiceOptions::moreRoutes and ::staffDashboard.
    bool Route(const HttpRequest& request, Reply& reply);
    bool MayViewDashboard(const HttpRequest& request);
    // The figures /metrics shows, fed by the HTTP layer and the writer as well (they outlive both).
    ServiceMetrics& Figures() { return m_metrics; }
    // ServiceOptions::tokenExported: recorded with the actor "token".
    void TokenExported(const HttpRequest& request);
    // ServiceOptions::staffMember and ::audit, for the wave pages.
    std::optional<SignedIn> Member(const HttpRequest& request);
    bool Audit(const AuditEntry& entry);

private:
    void Serve(const HttpRequest& request, const Reply& reply);
    // A POST to /revoke, /restore or /erase by someone signed in, its CSRF token checked.
    HttpResponse ChangeEnrolment(const HttpRequest& request, const SignedIn& who);
    // GET /staff, and a POST to /staff/add, /staff/role, /staff/passwd or /staff/disable.
    HttpResponse ManageStaff(const HttpRequest& request, const SignedIn& who);

    std::unique_ptr<StaffStore> m_store;
    std::unique_ptr<Storage> m_enrolments;
    Clock m_clock;
    std::mutex m_storeMutex;  // the store's connection is used by one thread at a time
    StaffAccess m_access;
    Runner m_run;
    std::function<std::string()> m_unready;
    std::string m_metricsToken;
    ServiceMetrics m_metrics;
};

}  // namespace Service
