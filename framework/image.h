#pragma once
// Images over bitmaps, normally DIB sections: a description (size, bits per pixel, pixels, row pitch) and a
// memory DC made on demand. Two types say who owns the bitmap: CImage owns and deletes it, CImageView only
// refers to one someone else owns (a strip a button draws from, say). Every CImage is also a view of itself.
#include <windows.h>

#include "framework/gdi.h"
#include "base/unique_handle.h"

class CImageView {
public:
    CImageView() = default;
    // Refers to the bitmap and reads its description; the bitmap must outlive the view.
    explicit CImageView(HBITMAP bitmap) { Describe(bitmap); }
    // A copy refers to the same bitmap; the memory DC is per object, so a copy starts without one.
    CImageView(const CImageView& other) { Describe(other.m_hBitmap); }
    CImageView& operator=(const CImageView& other) {
        if (this != &other) {
            Forget();
            Describe(other.m_hBitmap);
        }
        return *this;
    }
    ~CImageView() { Forget(); }

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

protected:
    // Reads the bitmap's description; the DC, if one is out, is released first.
    void Describe(HBITMAP bitmap);
    // Releases the DC and empties the description; the bitmap itself is untouched.
    void Forget();

private:
    HBITMAP m_hBitmap = nullptr;
    int m_nWidth = 0;
    int m_nHeight = 0;
    int m_nBPP = 0;
    int m_nPitch = 0;
    void* m_pTopRow = nullptr;

    mutable HDC m_hDC = nullptr;
    mutable int m_nDCUsers = 0;
    mutable HGDIOBJ m_hOldBitmap = nullptr;
};

class CImage : public CImageView {
public:
    CImage() = default;
    ~CImage() { Destroy(); }
    CImage(const CImage&) = delete;
    CImage& operator=(const CImage&) = delete;
    CImage(CImage&& other) noexcept { Attach(other.Detach()); }
    CImage& operator=(CImage&& other) noexcept {
        if (this != &other) Attach(other.Detach());
        return *this;
    }

    // A new DIB section of width × height at 24 or 32 bits per pixel: uncompressed, rows bottom-up, all
    // pixels zero. Whatever the image held before is destroyed first. False when it cannot be made.
    BOOL Create(int width, int height, int bitsPerPixel);

    // Takes ownership of a bitmap (deleting what was held before) and reads its description.
    void Attach(HBITMAP bitmap) noexcept;
    // Gives the bitmap up without deleting it.
    HBITMAP Detach() noexcept;
    // Deletes the bitmap (releasing the DC if it is still out) and empties the image.
    void Destroy() noexcept;

private:
    Base::UniqueHandle<Framework::GdiObjectTraits<HBITMAP>> m_bitmap;
};

static_assert(Base::kIsMoveOnly<CImage>, "an image owner must not be copyable");
