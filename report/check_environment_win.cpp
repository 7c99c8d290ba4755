#include <windows.h>

#include <new>

#include "device/windows_device_info.h"
#include "report/checker.h"

namespace {

class SystemEnvironment : public ICheckEnvironment {
public:
    std::unique_ptr<Device::IDeviceInfo> TakeSurvey() override {
        return std::unique_ptr<Device::IDeviceInfo>(new (std::nothrow) Device::WindowsDeviceInfo);
    }

    // The primary display at the time of this check: a resolution changed since the survey shows up.
    void ScreenSize(int32_t& width, int32_t& height) override {
        width = GetSystemMetrics(SM_CXSCREEN);
        height = GetSystemMetrics(SM_CYSCREEN);
    }

    // Whatever the buffer holds after the call is the name; a failed call leaves it empty.
    std::string ComputerName() override {
        char name[128] = {};
        DWORD size = sizeof name;
        ::GetComputerNameA(name, &size);
        return std::string(name, strnlen(name, sizeof name));
    }

    std::string UserName() override {
        char name[128] = {};
        DWORD size = sizeof name;
        ::GetUserNameA(name, &size);
        return std::string(name, strnlen(name, sizeof name));
    }
};

}  // namespace

std::unique_ptr<ICheckEnvironment> MakeSystemCheckEnvironment() { return std::make_unique<SystemEnvironment>(); }
