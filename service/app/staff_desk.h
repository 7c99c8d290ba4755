#pragma once
// The staff desk's routes: login and logout, the audit log, search, account and machine pages, the
// suspicious list, and the health checks. Its work (hashing, look-ups) runs on a thread of its own, never on
// the I/O threads; every action is audited.
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include "service/app/service.h"
#include "service/app/staff_access.h"
#include "service/storage/staff_store.h"

namespace Service {

class StaffDesk {
public:
    using Clock = std::function<int64_t()>;
    StaffDesk(std::unique_ptr<StaffStore> store, Clock clock);
    ~StaffDesk();
    StaffDesk(const StaffDesk&) = delete;
    StaffDesk& operator=(const StaffDesk&) = delete;

    // ServiceOptions::moreRoutes and ::staffDashboard.
    bool Route(const HttpRequest& request, Reply& reply);
    bool MayViewDashboard(const HttpRequest& request);

private:
    void Serve(const HttpRequest& request, const Reply& reply);
    void Run();

    std::unique_ptr<StaffStore> m_store;
    Clock m_clock;
    std::mutex m_storeMutex;  // the store's connection is used by one thread at a time
    StaffAccess m_access;
    std::mutex m_mutex;
    std::condition_variable m_ready;
    std::deque<std::function<void()>> m_work;
    bool m_stopping = false;
    std::thread m_thread;
};

}  // namespace Service
