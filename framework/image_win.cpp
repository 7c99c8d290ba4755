#include "framework/image.h"

BOOL CImage::Create(int width, int height, int bitsPerPixel) {
    Destroy();
    if (width <= 0 || height <= 0 || (bitsPerPixel != 24 && bitsPerPixel != 32)) return FALSE;
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = height;  // positive: bottom-up rows
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = static_cast<WORD>(bitsPerPixel);
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP bitmap = ::CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (!bitmap) return FALSE;
    Attach(bitmap);
    return TRUE;
}

void CImage::Attach(HBITMAP bitmap) noexcept {
    Forget();
    m_bitmap.Reset(bitmap);
    Describe(bitmap);
}

HBITMAP CImage::Detach() noexcept {
    Forget();
    return m_bitmap.Release();
}

void CImage::Destroy() noexcept {
    Forget();
    m_bitmap.Reset();
}

void CImageView::Describe(HBITMAP bitmap) {
    Forget();
    m_hBitmap = bitmap;
    if (!bitmap) return;
    DIBSECTION section{};
    const int size = ::GetObjectW(bitmap, sizeof section, &section);
    if (size < static_cast<int>(sizeof(BITMAP))) return;
    const BITMAP& bm = section.dsBm;
    m_nWidth = bm.bmWidth;
    m_nHeight = bm.bmHeight;
    m_nBPP = bm.bmBitsPixel;
    if (size == static_cast<int>(sizeof section) && bm.bmBits) {
        const bool bottomUp = section.dsBmih.biHeight > 0;
        auto* first = static_cast<BYTE*>(bm.bmBits);
        m_nPitch = bottomUp ? -bm.bmWidthBytes : bm.bmWidthBytes;
        m_pTopRow = bottomUp ? first + static_cast<size_t>(m_nHeight - 1) * bm.bmWidthBytes : first;
    }
}

void CImageView::Forget() {
    while (m_nDCUsers > 0) ReleaseDC();
    m_hBitmap = nullptr;
    m_nWidth = m_nHeight = m_nBPP = m_nPitch = 0;
    m_pTopRow = nullptr;
}

HDC CImageView::GetDC() const {
    if (!m_hBitmap) return nullptr;
    if (m_nDCUsers == 0) {
        m_hDC = ::CreateCompatibleDC(nullptr);
        if (!m_hDC) return nullptr;
        m_hOldBitmap = ::SelectObject(m_hDC, m_hBitmap);
    }
    ++m_nDCUsers;
    return m_hDC;
}

void CImageView::ReleaseDC() const {
    if (m_nDCUsers == 0 || --m_nDCUsers > 0) return;
    ::SelectObject(m_hDC, m_hOldBitmap);
    ::DeleteDC(m_hDC);
    m_hDC = nullptr;
    m_hOldBitmap = nullptr;
}

BOOL CImageView::Draw(HDC dest, int xDest, int yDest, int destWidth, int destHeight, int xSrc, int ySrc, int srcWidth,
                  int srcHeight) const {
    HDC source = GetDC();
    if (!source) return FALSE;
    const BOOL drawn = ::StretchBlt(dest, xDest, yDest, destWidth, destHeight, source, xSrc, ySrc, srcWidth,
                                    srcHeight, SRCCOPY);
    ReleaseDC();
    return drawn;
}

BOOL CImageView::Draw(HDC dest, int xDest, int yDest) const {
    return Draw(dest, xDest, yDest, m_nWidth, m_nHeight, 0, 0, m_nWidth, m_nHeight);
}

BOOL CImageView::BitBlt(HDC dest, int xDest, int yDest, int width, int height, int xSrc, int ySrc, DWORD rop) const {
    HDC source = GetDC();
    if (!source) return FALSE;
    const BOOL copied = ::BitBlt(dest, xDest, yDest, width, height, source, xSrc, ySrc, rop);
    ReleaseDC();
    return copied;
}
