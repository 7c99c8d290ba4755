// The yardstick for the start-up benchmark: the least a Win32 program can do to show what the checker
// shows first, a 371 x 356 window with the dialog's face and a line of Chinese in the same font.
#include <windows.h>

namespace {

HBITMAP g_face = nullptr;
HFONT g_font = nullptr;

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_PAINT: {
        PAINTSTRUCT paint;
        HDC dc = BeginPaint(window, &paint);
        HDC memory = CreateCompatibleDC(dc);
        HGDIOBJ old = SelectObject(memory, g_face);
        BitBlt(dc, 0, 0, 371, 356, memory, 0, 0, SRCCOPY);
        SelectObject(memory, old);
        DeleteDC(memory);
        HGDIOBJ oldFont = SelectObject(dc, g_font);
        SetBkMode(dc, TRANSPARENT);
        SetTextColor(dc, RGB(220, 216, 215));
        TextOutW(dc, 270, 307, L"注册账号", 4);
        SelectObject(dc, oldFont);
        EndPaint(window, &paint);
        return 0;
    }
    case WM_DESTROY: PostQuitMessage(0); return 0;
    default: return DefWindowProcW(window, message, wParam, lParam);
    }
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR commandLine, int) {
    g_face = static_cast<HBITMAP>(LoadImageW(nullptr, commandLine, IMAGE_BITMAP, 0, 0,
                                             LR_LOADFROMFILE | LR_CREATEDIBSECTION));
    g_font = CreateFontW(20, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, 0, 0, 0, 0, FF_SWISS, L"微软雅黑");
    WNDCLASSW type{};
    type.lpfnWndProc = WindowProc;
    type.hInstance = instance;
    type.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    type.lpszClassName = L"BareFace";
    RegisterClassW(&type);
    HWND window = CreateWindowExW(0, L"BareFace", L"BareFace", WS_POPUP | WS_MINIMIZEBOX, CW_USEDEFAULT,
                                  CW_USEDEFAULT, 371, 356, nullptr, nullptr, instance, nullptr);
    ShowWindow(window, SW_SHOW);
    UpdateWindow(window);
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    return 0;
}
