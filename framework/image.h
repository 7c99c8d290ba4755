#pragma once
// CImage: a bitmap, normally a DIB section, with its description (size, bits per pixel, pixels, row pitch)
// and a memory DC that is made on demand. The image owns its bitmap unless it was attached as borrowed.
#include <windows.h>

class CImage {
public:
    CImage() = default;
    ~CImage() { Destroy(); }
    CImage(const CImage&) = delete;
    CImage& operator=(const CImage&) = delete;

    // A new DIB section of width × height at 24 or 32 bits per pixel: uncompressed, rows bottom-up, all
    // pixels zero. Whatever the image held before is destroyed first. False when it cannot be made.
    BOOL Create(int width, int height, int bitsPerPixel);

    // Takes ownership of a bitmap and reads its description.
    void Attach(HBITMAP bitmap);
    // Refers to a bitmap someone else owns; Destroy only forgets it.
    void AttachBorrowed(HBITMAP bitmap);
    HBITMAP Detach();
    // Deletes an owned bitmap (releasing the DC if it is still out) and empties the image.
    void Destroy();

    bool IsNull() const { return m_hBitmap == nullptr; }
    operator HBITMAP() const { return m_hBitmap; }
    int GetWidth() const { return m_nWidth; }
    int GetHeight() const { return m_nHeight; }
    int GetBPP() const { return m_nBPP; }
    // Bytes from one row of the picture to the next one down; negative for bottom-up bitmaps. Together with
    // GetBits (the top row) it walks the picture top to bottom. Both are 0 for a bitmap without DIB pixels.
    int GetPitch() const { return m_nPitch; }
    void* GetBits() { return m_pTopRow; }
    const void* GetBits() const { return m_pTopRow; }

    // A memory DC with the bitmap selected. Calls nest; each GetDC needs one ReleaseDC, and the DC goes with
    // the last one. Null for an empty image.
    HDC GetDC() const;
    void ReleaseDC() const;

    // Copies (stretching when the sizes differ) a part of the image to the DC. False when nothing was drawn.
    BOOL Draw(HDC dest, int xDest, int yDest, int destWidth, int destHeight, int xSrc, int ySrc, int srcWidth,
              int srcHeight) const;
    // The whole image at its own size.
    BOOL Draw(HDC dest, int xDest, int yDest) const;
    BOOL BitBlt(HDC dest, int xDest, int yDest, int width, int height, int xSrc, int ySrc,
                DWORD rop = SRCCOPY) const;

private:
    void Take(HBITMAP bitmap, bool owned);

    HBITMAP m_hBitmap = nullptr;
    bool m_bOwned = false;
    int m_nWidth = 0;
    int m_nHeight = 0;
    int m_nBPP = 0;
    int m_nPitch = 0;
    void* m_pTopRow = nullptr;

    mutable HDC m_hDC = nullptr;
    mutable int m_nDCUsers = 0;
    mutable HGDIOBJ m_hOldBitmap = nullptr;
};
