#pragma once
// Helpers for tests with real windows: a host window, dialog templates in memory, message pumping and the
// rectangles of a region.
#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

#include "framework/wnd.h"

namespace WindowTest {

// Dispatches whatever is queued for this thread, for at least the given time.
inline void Pump(DWORD milliseconds = 0) {
    const ULONGLONG end = ::GetTickCount64() + milliseconds;
    do {
        MSG msg;
        while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            ::TranslateMessage(&msg);
            ::DispatchMessageW(&msg);
        }
        if (milliseconds) ::Sleep(5);
    } while (::GetTickCount64() < end);
}

// Removes the posted messages of this id for the window and returns them.
inline std::vector<MSG> TakePosted(HWND hwnd, UINT message) {
    std::vector<MSG> taken;
    MSG msg;
    while (::PeekMessageW(&msg, hwnd, message, message, PM_REMOVE)) taken.push_back(msg);
    return taken;
}

// A visible top-level window of the framework's default class, to hold the controls under test.
class HostWindow : public CWnd {
public:
    explicit HostWindow(int width = 400, int height = 300) {
        CreateEx(0, nullptr, L"host", WS_POPUP | WS_VISIBLE | WS_CLIPCHILDREN, 40, 40, width, height, nullptr,
                 nullptr);
    }
};

// A dialog template without controls and without a font, in dialog units.
class DialogTemplate {
public:
    DialogTemplate(DWORD style, short width, short height, const wchar_t* title = L"") {
        std::vector<WORD> words(sizeof(DLGTEMPLATE) / sizeof(WORD) + 2, 0);  // + menu, class
        DLGTEMPLATE header{};
        header.style = style;
        header.cx = width;
        header.cy = height;
        std::memcpy(words.data(), &header, sizeof header);
        for (const wchar_t* p = title;; ++p) {
            words.push_back(static_cast<WORD>(*p));
            if (!*p) break;
        }
        storage_.assign((words.size() * sizeof(WORD) + sizeof(DWORD) - 1) / sizeof(DWORD), 0);
        std::memcpy(storage_.data(), words.data(), words.size() * sizeof(WORD));
    }
    const DLGTEMPLATE* get() const { return reinterpret_cast<const DLGTEMPLATE*>(storage_.data()); }

private:
    std::vector<DWORD> storage_;  // DWORD-aligned, as the dialog manager requires
};

inline std::vector<RECT> RegionRects(HRGN region) {
    const DWORD size = ::GetRegionData(region, 0, nullptr);
    std::vector<unsigned char> buffer(size);
    if (!size || !::GetRegionData(region, size, reinterpret_cast<RGNDATA*>(buffer.data()))) return {};
    const auto* data = reinterpret_cast<const RGNDATA*>(buffer.data());
    const auto* rects = reinterpret_cast<const RECT*>(data->Buffer);
    return std::vector<RECT>(rects, rects + data->rdh.nCount);
}

inline std::string Describe(const std::vector<RECT>& rects) {
    std::string text;
    for (const RECT& r : rects) {
        text += "(" + std::to_string(r.left) + "," + std::to_string(r.top) + ")-(" + std::to_string(r.right) + "," +
                std::to_string(r.bottom) + ") ";
    }
    return text.empty() ? "(empty)" : text;
}

// The rectangle of a child in its parent's client coordinates.
inline RECT ChildRect(HWND child) {
    RECT r{};
    ::GetWindowRect(child, &r);
    ::MapWindowPoints(nullptr, ::GetParent(child), reinterpret_cast<POINT*>(&r), 2);
    return r;
}

}  // namespace WindowTest
