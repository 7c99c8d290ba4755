#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <cwctype>
#include <ostream>
#include <string>
#include <vector>

#include "res/resource.h"
#include "skin/skin_layout.h"

// The resources linked into this program are the ones the checker carries; read them back through the
// same loader calls the program uses.
namespace {

namespace Layout = Skin::CheckDialog;

struct ResourceBytes {
    const std::uint8_t* data = nullptr;
    DWORD size = 0;
};

ResourceBytes FindBytes(LPCWSTR type, int id) {
    HMODULE module = GetModuleHandleW(nullptr);
    HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(id), type);
    if (!found) return {};
    HGLOBAL loaded = LoadResource(module, found);
    return {static_cast<const std::uint8_t*>(LockResource(loaded)), SizeofResource(module, found)};
}

// ---------------------------------------------------------------------------------------------- dialog

// DLGTEMPLATEEX up to and including its font.
struct DialogTemplate {
    WORD version = 0, signature = 0;
    DWORD exStyle = 0, style = 0;
    WORD items = 0;
    short x = 0, y = 0, cx = 0, cy = 0;
    std::wstring menu, windowClass, title;
    WORD pointSize = 0;
    std::wstring face;
};

// A menu or class field: 0 (none), 0xFFFF + ordinal, or a string.
std::wstring ReadSzOrOrd(const WORD*& p) {
    if (*p == 0) { ++p; return L""; }
    if (*p == 0xFFFF) { p += 2; return L"#ordinal"; }
    std::wstring text(reinterpret_cast<const wchar_t*>(p));
    p += text.size() + 1;
    return text;
}

DialogTemplate ParseDialog(const std::uint8_t* data) {
    DialogTemplate t;
    const WORD* p = reinterpret_cast<const WORD*>(data);
    t.version = p[0];
    t.signature = p[1];
    std::memcpy(&t.exStyle, p + 4, 4);
    std::memcpy(&t.style, p + 6, 4);
    t.items = p[8];
    t.x = static_cast<short>(p[9]);
    t.y = static_cast<short>(p[10]);
    t.cx = static_cast<short>(p[11]);
    t.cy = static_cast<short>(p[12]);
    p += 13;
    t.menu = ReadSzOrOrd(p);
    t.windowClass = ReadSzOrOrd(p);
    t.title = reinterpret_cast<const wchar_t*>(p);
    p += t.title.size() + 1;
    if (t.style & DS_SETFONT) {
        t.pointSize = p[0];  // then weight, italic and charset
        t.face = reinterpret_cast<const wchar_t*>(p + 3);
    }
    return t;
}

TEST(DialogTemplate, IsAnExtendedBorderlessPopupWithoutControls) {
    ResourceBytes bytes = FindBytes(RT_DIALOG, IDD_CHECK_DIALOG);
    ASSERT_NE(bytes.data, nullptr);
    DialogTemplate t = ParseDialog(bytes.data);
    EXPECT_EQ(t.version, 1);
    EXPECT_EQ(t.signature, 0xFFFF);
    EXPECT_EQ(t.style, 0x96000048u);  // popup, visible, clip siblings and children, set font, fixed-sys
    EXPECT_EQ(t.exStyle, static_cast<DWORD>(WS_EX_APPWINDOW));
    EXPECT_EQ(t.style & (WS_CAPTION | WS_BORDER | WS_THICKFRAME | WS_SYSMENU), 0u) << "no frame of its own";
    EXPECT_EQ(t.items, 0);
    EXPECT_EQ(t.cx, 273);
    EXPECT_EQ(t.cy, 161);
    EXPECT_EQ(t.menu, L"");
    EXPECT_EQ(t.windowClass, L"");
    EXPECT_EQ(t.title, L"") << "the title is set at initialisation";
    EXPECT_EQ(t.pointSize, 9);
    EXPECT_EQ(t.face, L"MS Shell Dlg");
}

INT_PTR CALLBACK IgnoreEverything(HWND, UINT, WPARAM, LPARAM) { return FALSE; }

// The template really makes a window: the dialog manager accepts it and the window has its style.
TEST(DialogTemplate, CreatesAPopupWindow) {
    ResourceBytes bytes = FindBytes(RT_DIALOG, IDD_CHECK_DIALOG);
    ASSERT_NE(bytes.data, nullptr);
    HWND dialog = CreateDialogParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_CHECK_DIALOG), nullptr,
                                     IgnoreEverything, 0);
    ASSERT_NE(dialog, nullptr) << GetLastError();
    LONG style = GetWindowLongW(dialog, GWL_STYLE);
    EXPECT_TRUE(style & WS_POPUP);
    EXPECT_FALSE(style & WS_CAPTION);
    EXPECT_TRUE(GetWindowLongW(dialog, GWL_EXSTYLE) & WS_EX_APPWINDOW);
    DestroyWindow(dialog);
}

// ---------------------------------------------------------------------------------------------- bitmaps

struct BitmapCase {
    const char* name;
    int id;
    int width;
    int height;
};

void PrintTo(const BitmapCase& c, std::ostream* os) { *os << c.name; }

class SkinBitmap : public testing::TestWithParam<BitmapCase> {};

// Loaded as the skin loads them: a DIB section, 24 bits, its own size.
TEST_P(SkinBitmap, LoadsAsA24BitDibSectionOfItsSize) {
    const BitmapCase& c = GetParam();
    HANDLE image = LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(c.id), IMAGE_BITMAP, 0, 0,
                              LR_CREATEDIBSECTION);
    ASSERT_NE(image, nullptr);
    DIBSECTION dib = {};
    ASSERT_EQ(GetObjectW(image, sizeof dib, &dib), static_cast<int>(sizeof dib));
    EXPECT_EQ(dib.dsBm.bmWidth, c.width);
    EXPECT_EQ(dib.dsBm.bmHeight, c.height);
    EXPECT_EQ(dib.dsBm.bmBitsPixel, 24);
    EXPECT_NE(dib.dsBm.bmBits, nullptr);
    DeleteObject(image);
}

INSTANTIATE_TEST_SUITE_P(Resources, SkinBitmap,
                         testing::Values(BitmapCase{"Background", IDB_BACKGROUND, Layout::kDialog.width,
                                                    Layout::kDialog.height},
                                         BitmapCase{"CheckStrip", IDB_CHECK_STRIP, Layout::kCheckButton.width,
                                                    4 * Layout::kCheckButton.height},
                                         BitmapCase{"CloseStrip", IDB_CLOSE_STRIP, Layout::kCloseButton.width,
                                                    4 * Layout::kCloseButton.height}),
                         [](const testing::TestParamInfo<BitmapCase>& info) { return info.param.name; });

// Pixels read through GDI land where the layout expects them (rows are not flipped on the way in).
TEST(SkinBitmap, FaceHasItsFrameAndWellsWhereTheLayoutPutsThem) {
    HBITMAP face = static_cast<HBITMAP>(LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDB_BACKGROUND),
                                                   IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
    ASSERT_NE(face, nullptr);
    HDC dc = CreateCompatibleDC(nullptr);
    HGDIOBJ old = SelectObject(dc, face);
    struct Probe {
        int x, y;
        COLORREF expected;
    };
    constexpr COLORREF kFrame = RGB(158, 166, 198), kWell = RGB(42, 43, 42);
    const Skin::Box& dialog = Layout::kDialog;
    const Skin::Box &account = Layout::kAccountWell, &confirm = Layout::kConfirmWell;
    const Probe probes[] = {
        {0, 0, kFrame},
        {1, dialog.height - 1, kFrame},
        {dialog.width - 1, dialog.height / 2, kFrame},
        {account.x, account.y, kWell},
        {account.x + account.width - 1, account.y + account.height - 1, kWell},
        {confirm.x, confirm.y, kWell},
        {confirm.x + confirm.width - 1, confirm.y + confirm.height - 1, kWell},
    };
    for (const Probe& p : probes) {
        SCOPED_TRACE(testing::Message() << "(" << p.x << ", " << p.y << ")");
        EXPECT_EQ(GetPixel(dc, p.x, p.y), p.expected);
    }
    EXPECT_NE(GetPixel(dc, account.x, account.y - 1), kWell) << "the well starts where the layout says";
    SelectObject(dc, old);
    DeleteDC(dc);
    DeleteObject(face);
}

// ---------------------------------------------------------------------------------------------- icon

#pragma pack(push, 2)
struct GroupIconEntry {
    BYTE width, height, colours, reserved;
    WORD planes, bitCount;
    DWORD bytes;
    WORD id;
};
#pragma pack(pop)

struct IconCase {
    int size;
    int bits;
};

TEST(AppIcon, GroupHoldsFourImagesOfTheirSizesAndDepths) {
    ResourceBytes group = FindBytes(RT_GROUP_ICON, IDI_APP);
    ASSERT_NE(group.data, nullptr);
    const WORD* head = reinterpret_cast<const WORD*>(group.data);
    ASSERT_EQ(head[1], 1) << "icon, not cursor";
    ASSERT_EQ(head[2], 4);
    const IconCase expected[] = {{32, 8}, {16, 24}, {64, 24}, {128, 24}};
    auto* entries = reinterpret_cast<const GroupIconEntry*>(group.data + 6);
    for (int i = 0; i < 4; ++i) {
        SCOPED_TRACE(testing::Message() << "image " << i << ": " << expected[i].size << " px");
        EXPECT_EQ(entries[i].width, expected[i].size);
        EXPECT_EQ(entries[i].height, expected[i].size);
        EXPECT_EQ(entries[i].bitCount, expected[i].bits);
        ResourceBytes image = FindBytes(RT_ICON, entries[i].id);
        ASSERT_NE(image.data, nullptr);
        EXPECT_EQ(image.size, entries[i].bytes);
        BITMAPINFOHEADER header;
        std::memcpy(&header, image.data, sizeof header);
        EXPECT_EQ(header.biWidth, expected[i].size);
        EXPECT_EQ(header.biHeight, 2 * expected[i].size) << "colour image and mask";
        EXPECT_EQ(header.biBitCount, expected[i].bits);
    }
}

// Each size the program asks for comes back at that size (big and small window icons, file icon).
TEST(AppIcon, LoadsAtEverySize) {
    for (int size : {16, 32, 64, 128}) {
        SCOPED_TRACE(testing::Message() << size << " px");
        HICON icon = static_cast<HICON>(
            LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDI_APP), IMAGE_ICON, size, size, 0));
        ASSERT_NE(icon, nullptr);
        ICONINFO info = {};
        ASSERT_TRUE(GetIconInfo(icon, &info));
        BITMAP colour = {};
        GetObjectW(info.hbmColor, sizeof colour, &colour);
        EXPECT_EQ(colour.bmWidth, size);
        EXPECT_EQ(colour.bmHeight, size);
        DeleteObject(info.hbmColor);
        DeleteObject(info.hbmMask);
        DestroyIcon(icon);
    }
    EXPECT_NE(LoadIconW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDI_APP)), nullptr);
}

// ---------------------------------------------------------------------------------------------- version

std::vector<BYTE> OwnVersionRecord() {
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    DWORD handle = 0;
    DWORD size = GetFileVersionInfoSizeW(path, &handle);
    std::vector<BYTE> record(size);
    if (size == 0 || !GetFileVersionInfoW(path, 0, size, record.data())) record.clear();
    return record;
}

TEST(VersionRecord, FileAndProductVersionAre1_0_0_9) {
    std::vector<BYTE> record = OwnVersionRecord();
    ASSERT_FALSE(record.empty());
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueW(record.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
    EXPECT_EQ(fixed->dwSignature, 0xFEEF04BDu);
    EXPECT_EQ(fixed->dwFileVersionMS, 0x00010000u);
    EXPECT_EQ(fixed->dwFileVersionLS, 0x00000009u);
    EXPECT_EQ(fixed->dwProductVersionMS, 0x00010000u);
    EXPECT_EQ(fixed->dwProductVersionLS, 0x00000009u);
    EXPECT_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_APP));
}

TEST(VersionRecord, IsSimplifiedChineseUnicode) {
    std::vector<BYTE> record = OwnVersionRecord();
    ASSERT_FALSE(record.empty());
    WORD* translation = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueW(record.data(), L"\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translation),
                               &length));
    ASSERT_GE(length, 4u);
    EXPECT_EQ(translation[0], 0x0804);
    EXPECT_EQ(translation[1], 1200);
}

struct VersionString {
    const wchar_t* key;
    const wchar_t* expected;
};

void PrintTo(const VersionString& v, std::ostream* os) { *os << testing::PrintToString(std::wstring(v.key)); }

class VersionText : public testing::TestWithParam<VersionString> {};

TEST_P(VersionText, ReadsBack) {
    std::vector<BYTE> record = OwnVersionRecord();
    ASSERT_FALSE(record.empty());
    std::wstring query = std::wstring(L"\\StringFileInfo\\080404b0\\") + GetParam().key;
    wchar_t* value = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueW(record.data(), query.c_str(), reinterpret_cast<void**>(&value), &length));
    EXPECT_EQ(std::wstring(value), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Resources, VersionText,
                         testing::Values(VersionString{L"FileDescription", L"《Quillmere》检测器"},
                                         VersionString{L"ProductName", L"《Quillmere》检测器"},
                                         VersionString{L"FileVersion", L"1.0.0.9"},
                                         VersionString{L"ProductVersion", L"1.0.0.9"},
                                         VersionString{L"OriginalFilename", L"ZorvDownloader.exe"}),
                         [](const testing::TestParamInfo<VersionString>& info) {
                             std::string name;
                             for (const wchar_t* k = info.param.key; *k; ++k) name += static_cast<char>(*k);
                             return name;
                         });

// ---------------------------------------------------------------------------------------------- manifest

TEST(Manifest, IsEmbeddedForTheProcess) {
    ResourceBytes bytes = FindBytes(RT_MANIFEST, 1);  // CREATEPROCESS_MANIFEST_RESOURCE_ID
    ASSERT_NE(bytes.data, nullptr);
    std::string text(reinterpret_cast<const char*>(bytes.data), bytes.size);
    const char* fragments[] = {
        "level=\"requireAdministrator\"",
        "uiAccess=\"false\"",
        ">true</dpiAware>",
        "name=\"Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\"",
    };
    for (const char* fragment : fragments) {
        SCOPED_TRACE(fragment);
        EXPECT_NE(text.find(fragment), std::string::npos);
    }
}

// The loader honoured the manifest: the process is DPI-aware, and the common controls it loads are the
// version 6 side-by-side assembly rather than the system folder's comctl32.
TEST(Manifest, TakesEffect) {
    EXPECT_TRUE(IsProcessDPIAware());
    HMODULE comctl = LoadLibraryW(L"comctl32.dll");
    ASSERT_NE(comctl, nullptr);
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(comctl, path, MAX_PATH);
    std::wstring lower(path);
    for (wchar_t& c : lower) c = towlower(c);
    EXPECT_NE(lower.find(L"microsoft.windows.common-controls_6595b64144ccf1df_6."), std::wstring::npos)
        << "loaded from " << testing::PrintToString(lower);
    FreeLibrary(comctl);
}

}  // namespace
