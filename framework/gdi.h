#pragma once
// Owners of GDI objects. Each type owns exactly one object and deletes it when destroyed; ownership moves,
// it is never copied. Borrowed objects stay raw handles (HBRUSH, HFONT), so a reader sees who owns what.
#include <windows.h>

#include "base/unique_handle.h"

namespace Framework {

template <class H>
struct GdiObjectTraits {
    using Handle = H;
    static H Empty() noexcept { return nullptr; }
    static void Close(H handle) noexcept { ::DeleteObject(handle); }
};

}  // namespace Framework

template <class H>
class CGdiObject {
public:
    H GetSafeHandle() const noexcept { return m_object.Get(); }
    operator H() const noexcept { return m_object.Get(); }

    // Takes ownership of the handle; whatever was held before is deleted.
    void Attach(H handle) noexcept { m_object.Reset(handle); }
    // Gives up ownership, e.g. after handing a region to a window.
    H Detach() noexcept { return m_object.Release(); }
    BOOL DeleteObject() noexcept {
        const bool held = !m_object.IsEmpty();
        m_object.Reset();
        return held;
    }

protected:
    // Replaces what is held with a newly made object; false when making it failed.
    BOOL Take(H handle) noexcept {
        m_object.Reset(handle);
        return handle != nullptr;
    }

private:
    Base::UniqueHandle<Framework::GdiObjectTraits<H>> m_object;
};

class CRgn : public CGdiObject<HRGN> {
public:
    BOOL CreateRectRgn(int left, int top, int right, int bottom) noexcept {
        return Take(::CreateRectRgn(left, top, right, bottom));
    }
    BOOL CreateFromData(const XFORM* transform, int bytes, const RGNDATA* data) noexcept {
        return Take(::ExtCreateRegion(transform, static_cast<DWORD>(bytes), data));
    }
    // Sets this region to the combination of two others; returns the region kind, or ERROR.
    int CombineRgn(HRGN first, HRGN second, int mode) noexcept { return ::CombineRgn(*this, first, second, mode); }
};

class CBrush : public CGdiObject<HBRUSH> {
public:
    BOOL CreateSolidBrush(COLORREF color) noexcept { return Take(::CreateSolidBrush(color)); }
};

class CFont : public CGdiObject<HFONT> {
public:
    // The name is the platform's, so it reads CreateFontW wherever UNICODE is defined, as the platform call does.
    BOOL CreateFont(int height, int width, int escapement, int orientation, int weight, BYTE italic, BYTE underline,
                    BYTE strikeOut, BYTE charSet, BYTE outPrecision, BYTE clipPrecision, BYTE quality,
                    BYTE pitchAndFamily, LPCWSTR faceName) noexcept {
        return Take(::CreateFontW(height, width, escapement, orientation, weight, italic, underline, strikeOut, charSet,
                                  outPrecision, clipPrecision, quality, pitchAndFamily, faceName));
    }
    BOOL CreateFontIndirect(const LOGFONTW* font) noexcept { return Take(::CreateFontIndirectW(font)); }
};

class CPen : public CGdiObject<HPEN> {
public:
    BOOL CreatePen(int style, int width, COLORREF color) noexcept { return Take(::CreatePen(style, width, color)); }
};

static_assert(Base::kIsMoveOnly<CPen>, "a pen owner must not be copyable");
static_assert(Base::kIsMoveOnly<CRgn>, "a region owner must not be copyable");
static_assert(Base::kIsMoveOnly<CBrush>, "a brush owner must not be copyable");
static_assert(Base::kIsMoveOnly<CFont>, "a font owner must not be copyable");

// Selects an object into a DC for one scope and puts the previous one back.
class CSelectObject {
public:
    CSelectObject(HDC dc, HGDIOBJ object) noexcept : m_hDC(dc), m_hOld(object ? ::SelectObject(dc, object) : nullptr) {}
    ~CSelectObject() {
        if (m_hOld && m_hOld != HGDI_ERROR) ::SelectObject(m_hDC, m_hOld);
    }
    CSelectObject(const CSelectObject&) = delete;
    CSelectObject& operator=(const CSelectObject&) = delete;

private:
    HDC m_hDC;
    HGDIOBJ m_hOld;
};

// Fills a rectangle with a solid colour without making a brush (the DC's background colour is restored).
inline void FillSolidRect(HDC dc, const RECT& rect, COLORREF color) noexcept {
    const COLORREF old = ::SetBkColor(dc, color);
    ::ExtTextOutW(dc, 0, 0, ETO_OPAQUE, &rect, nullptr, 0, nullptr);
    ::SetBkColor(dc, old);
}
