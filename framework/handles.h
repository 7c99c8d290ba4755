#pragma once
// Owners of the system's other handles, all names for the one move-only template: a registry key, a BSTR,
// a COM interface pointer. Borrowed handles stay raw, as with the GDI owners.
#include <windows.h>
#include <oleauto.h>

#include "base/unique_handle.h"

namespace Framework {

struct RegKeyTraits {
    using Handle = HKEY;
    static HKEY Empty() noexcept { return nullptr; }
    static void Close(HKEY key) noexcept { ::RegCloseKey(key); }
};
using RegKey = Base::UniqueHandle<RegKeyTraits>;

struct BstrTraits {
    using Handle = BSTR;
    static BSTR Empty() noexcept { return nullptr; }
    static void Close(BSTR text) noexcept { ::SysFreeString(text); }
};
// A BSTR the caller frees; Bstr(SysAllocString(L"...")) for one made here.
using Bstr = Base::UniqueHandle<BstrTraits>;

template <class Interface>
struct ComTraits {
    using Handle = Interface*;
    static Interface* Empty() noexcept { return nullptr; }
    static void Close(Interface* pointer) noexcept { pointer->Release(); }
};

// One reference to a COM object. Put() hands out the address for a call that returns a new reference and
// releases the one held first, so a pointer reused across calls never leaks the previous object.
template <class Interface>
class ComPtr {
public:
    ComPtr() noexcept = default;
    Interface* Get() const noexcept { return m_pointer.Get(); }
    Interface* operator->() const noexcept { return m_pointer.Get(); }
    explicit operator bool() const noexcept { return !m_pointer.IsEmpty(); }
    Interface** Put() noexcept { return m_pointer.Put(); }
    void Reset() noexcept { m_pointer.Reset(); }

private:
    Base::UniqueHandle<ComTraits<Interface>> m_pointer;
};

static_assert(Base::kIsMoveOnly<RegKey>, "a registry key owner must not be copyable");
static_assert(Base::kIsMoveOnly<Bstr>, "a BSTR owner must not be copyable");
static_assert(Base::kIsMoveOnly<ComPtr<IUnknown>>, "a COM pointer must not be copyable");

}  // namespace Framework
