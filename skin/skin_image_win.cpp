#include "skin/skin_image.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "framework/wnd.h"
#include "skin/skin_layout.h"

namespace {

// Rectangles per ExtCreateRegion call. Some GDI implementations merge the rectangles of one call one by one,
// at a cost that grows with the square of their number, so the calls stay small and their regions are
// merged pairwise: each merge then joins regions of similar size.
constexpr std::size_t kRectsPerBatch = 32;

HRGN RegionOfBatch(const Skin::PixelRect* rects, std::size_t count, std::vector<unsigned char>& buffer) {
    buffer.assign(sizeof(RGNDATAHEADER) + count * sizeof(RECT), 0);
    auto* data = reinterpret_cast<RGNDATA*>(buffer.data());
    auto* boxes = reinterpret_cast<RECT*>(data->Buffer);
    RECT bounds{rects[0].left, rects[0].top, rects[0].right, rects[0].bottom};
    for (std::size_t i = 0; i < count; ++i) {
        const Skin::PixelRect& r = rects[i];
        boxes[i] = RECT{r.left, r.top, r.right, r.bottom};
        ::UnionRect(&bounds, &bounds, &boxes[i]);
    }
    data->rdh.dwSize = sizeof(RGNDATAHEADER);
    data->rdh.iType = RDH_RECTANGLES;
    data->rdh.nCount = static_cast<DWORD>(count);
    data->rdh.nRgnSize = static_cast<DWORD>(count * sizeof(RECT));
    data->rdh.rcBound = bounds;
    return ::ExtCreateRegion(nullptr, static_cast<DWORD>(buffer.size()), data);
}

}  // namespace

bool LoadSkinImage(CImage& image, UINT resourceId) {
    auto* bitmap = static_cast<HBITMAP>(
        ::LoadImageW(AfxGetInstanceHandle(), MAKEINTRESOURCEW(resourceId), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
    image.Attach(bitmap);
    return bitmap != nullptr;
}

namespace {

// The packed twins' resource id step (res/resource.h), and the packing: the bitmap file's size (4 bytes,
// little-endian), then the file as LZNT1 with every stored pixel row but the first replaced by its
// difference from the row stored before it (res/pack-artwork.py).
constexpr UINT kScaleStep = 100;
constexpr USHORT kLznt1 = 2;  // COMPRESSION_FORMAT_LZNT1
using DecompressBuffer = LONG(WINAPI*)(USHORT, PUCHAR, ULONG, PUCHAR, ULONG, PULONG);

bool UnpackBitmap(CImage& image, UINT resourceId) {
    HINSTANCE instance = AfxGetInstanceHandle();
    HRSRC resource = ::FindResourceW(instance, MAKEINTRESOURCEW(resourceId), reinterpret_cast<LPCWSTR>(RT_RCDATA));
    HGLOBAL loaded = resource ? ::LoadResource(instance, resource) : nullptr;
    const auto* packed = static_cast<const unsigned char*>(loaded ? ::LockResource(loaded) : nullptr);
    const DWORD packedSize = resource ? ::SizeofResource(instance, resource) : 0;
    // Every Windows has it; it is looked up so that the program needs no import library for ntdll.
    const auto decompress = reinterpret_cast<DecompressBuffer>(
        reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "RtlDecompressBuffer")));
    if (!packed || packedSize < 4 || !decompress) return false;
    const ULONG fileSize = packed[0] | packed[1] << 8 | packed[2] << 16 | static_cast<ULONG>(packed[3]) << 24;
    if (fileSize < sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER) || fileSize > (64u << 20)) return false;
    std::vector<unsigned char> file(fileSize);
    ULONG unpacked = 0;
    if (decompress(kLznt1, file.data(), fileSize, const_cast<PUCHAR>(packed + 4), packedSize - 4, &unpacked) < 0 ||
        unpacked != fileSize)
        return false;

    BITMAPFILEHEADER fileHeader;
    BITMAPINFOHEADER info;
    std::memcpy(&fileHeader, file.data(), sizeof fileHeader);
    std::memcpy(&info, file.data() + sizeof fileHeader, sizeof info);
    if (info.biBitCount != 24 || info.biCompression != BI_RGB || info.biWidth <= 0 || info.biHeight <= 0) return false;
    const std::size_t pitch = (static_cast<std::size_t>(info.biWidth) * 3 + 3) / 4 * 4;
    const std::size_t rows = static_cast<std::size_t>(info.biHeight);
    if (fileHeader.bfOffBits > fileSize || (fileSize - fileHeader.bfOffBits) / pitch < rows) return false;
    unsigned char* stored = file.data() + fileHeader.bfOffBits;  // bottom row first
    for (std::size_t y = 1; y < rows; ++y) {
        for (std::size_t x = 0; x < pitch; ++x) stored[y * pitch + x] += stored[(y - 1) * pitch + x];
    }
    if (!image.Create(info.biWidth, info.biHeight, 24)) return false;
    auto* top = static_cast<unsigned char*>(image.GetBits());
    for (std::size_t y = 0; y < rows; ++y) {
        std::memcpy(top + static_cast<std::ptrdiff_t>(rows - 1 - y) * image.GetPitch(), stored + y * pitch, pitch);
    }
    return true;
}

}  // namespace

bool LoadSkinImage(CImage& image, UINT resourceId, int dpi, int width, int height) {
    const int index = Skin::ArtworkScaleIndex(dpi);
    CImage drawn;
    if (!(index == 0 ? LoadSkinImage(drawn, resourceId) : UnpackBitmap(drawn, resourceId + kScaleStep * index))) {
        image.Destroy();
        return false;
    }
    if (drawn.GetWidth() == width && drawn.GetHeight() == height) {
        image = std::move(drawn);
        return true;
    }
    // A scale between the drawn ones: the nearest artwork, resampled.
    if (!image.Create(width, height, 24)) return false;
    HDC from = drawn.GetDC();
    HDC to = image.GetDC();
    if (from && to) {
        ::SetStretchBltMode(to, HALFTONE);
        ::SetBrushOrgEx(to, 0, 0, nullptr);
        ::StretchBlt(to, 0, 0, width, height, from, 0, 0, drawn.GetWidth(), drawn.GetHeight(), SRCCOPY);
    }
    if (to) image.ReleaseDC();
    if (from) drawn.ReleaseDC();
    return from && to;
}

bool RegionFromRects(const std::vector<Skin::PixelRect>& rects, CRgn& out) {
    auto fail = [&out] {
        out.CreateRectRgn(0, 0, 0, 0);
        return false;
    };
    std::vector<CRgn> parts;
    std::vector<unsigned char> buffer;
    for (std::size_t first = 0; first < rects.size(); first += kRectsPerBatch) {
        parts.emplace_back();
        parts.back().Attach(RegionOfBatch(&rects[first], std::min(kRectsPerBatch, rects.size() - first), buffer));
        if (!parts.back().GetSafeHandle()) return fail();
    }
    // Pairwise merging: part i takes part i + step, doubling step each round.
    for (std::size_t step = 1; step < parts.size(); step *= 2) {
        for (std::size_t i = 0; i + step < parts.size(); i += 2 * step) {
            if (parts[i].CombineRgn(parts[i], parts[i + step], RGN_OR) == ERROR) return fail();
            parts[i + step].DeleteObject();
        }
    }
    if (parts.empty()) return out.CreateRectRgn(0, 0, 0, 0) != FALSE;
    out = std::move(parts.front());
    return true;
}

bool CreateImageRgn(const CImageView& source, CRgn& out, int maxWidth, int maxHeight, COLORREF key) {
    const int width = std::max(0, std::min(source.GetWidth(), maxWidth));
    const int height = std::max(0, std::min(source.GetHeight(), maxHeight));
    if (width == 0 || height == 0) return out.CreateRectRgn(0, 0, 0, 0) != FALSE;

    // The source may be any depth; a 32-bit copy gives one pixel layout to scan.
    CImage work;
    // A working image that cannot be made reads as black, like one whose copy failed.
    if (!work.Create(width, height, 32)) return RegionFromRects({Skin::PixelRect{0, 0, width, height}}, out);
    HDC from = source.GetDC();
    HDC to = work.GetDC();
    if (from && to) ::BitBlt(to, 0, 0, width, height, from, 0, 0, SRCCOPY);
    if (to) work.ReleaseDC();
    if (from) source.ReleaseDC();
    ::GdiFlush();  // the blit must have landed in the pixels before they are read

    const auto* top = static_cast<const std::uint8_t*>(work.GetBits());
    return RegionFromRects(Skin::FindImageRuns(top, work.GetPitch(), width, height, key), out);
}

void PaintThroughBuffer(HDC paintDC, CImage& buffer, const FacePainter& draw) {
    if (buffer.IsNull()) return;
    HDC face = buffer.GetDC();
    if (!face) return;
    ::SetBkMode(face, TRANSPARENT);
    draw(face);
    RECT clip{};
    ::GetClipBox(paintDC, &clip);
    ::BitBlt(paintDC, clip.left, clip.top, clip.right - clip.left, clip.bottom - clip.top, face, clip.left, clip.top,
             SRCCOPY);
    buffer.ReleaseDC();
}

void ReshapeFromBuffer(HWND window, CImage& buffer, int& bufferWidth, int& bufferHeight, int cx, int cy,
                       COLORREF key, const FacePainter& draw) {
    if (cx > bufferWidth || cy > bufferHeight) {
        buffer.Destroy();
        // Raised even when the DIB section fails, so only a later, larger size tries again.
        bufferWidth = std::max(bufferWidth, cx);
        bufferHeight = std::max(bufferHeight, cy);
        buffer.Create(bufferWidth, bufferHeight, 32);
    }
    HDC face = buffer.IsNull() ? nullptr : buffer.GetDC();
    if (!face) return;
    draw(face);
    buffer.ReleaseDC();
    CRgn region;
    if (CreateImageRgn(buffer, region, bufferWidth, bufferHeight, key) && ::SetWindowRgn(window, region, TRUE))
        region.Detach();  // the window owns it now
}
