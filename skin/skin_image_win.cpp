#include "skin/skin_image.h"

#include <algorithm>
#include <cstring>

#include "framework/wnd.h"

namespace {

// Rectangles per ExtCreateRegion call; keeps each call's buffer modest (about 64 KB).
constexpr std::size_t kRectsPerBatch = 4000;

}  // namespace

bool LoadSkinImage(CImage& image, UINT resourceId) {
    auto* bitmap = static_cast<HBITMAP>(
        ::LoadImageW(AfxGetInstanceHandle(), MAKEINTRESOURCEW(resourceId), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
    image.Attach(bitmap);
    return bitmap != nullptr;
}

bool RegionFromRects(const std::vector<Skin::PixelRect>& rects, CRgn& out) {
    if (!out.CreateRectRgn(0, 0, 0, 0)) return false;
    std::vector<unsigned char> buffer;
    for (std::size_t first = 0; first < rects.size(); first += kRectsPerBatch) {
        const std::size_t count = std::min(kRectsPerBatch, rects.size() - first);
        buffer.assign(sizeof(RGNDATAHEADER) + count * sizeof(RECT), 0);
        auto* data = reinterpret_cast<RGNDATA*>(buffer.data());
        data->rdh.dwSize = sizeof(RGNDATAHEADER);
        data->rdh.iType = RDH_RECTANGLES;
        data->rdh.nCount = static_cast<DWORD>(count);
        data->rdh.nRgnSize = static_cast<DWORD>(count * sizeof(RECT));
        RECT bounds{rects[first].left, rects[first].top, rects[first].right, rects[first].bottom};
        auto* boxes = reinterpret_cast<RECT*>(data->Buffer);
        for (std::size_t i = 0; i < count; ++i) {
            const Skin::PixelRect& r = rects[first + i];
            boxes[i] = RECT{r.left, r.top, r.right, r.bottom};
            bounds.left = std::min<LONG>(bounds.left, r.left);
            bounds.top = std::min<LONG>(bounds.top, r.top);
            bounds.right = std::max<LONG>(bounds.right, r.right);
            bounds.bottom = std::max<LONG>(bounds.bottom, r.bottom);
        }
        data->rdh.rcBound = bounds;
        CRgn batch;
        if (!batch.CreateFromData(nullptr, static_cast<int>(buffer.size()), data) ||
            out.CombineRgn(out, batch, RGN_OR) == ERROR) {
            out.CreateRectRgn(0, 0, 0, 0);
            return false;
        }
    }
    return true;
}

bool CreateImageRgn(const CImage& source, CRgn& out, int maxWidth, int maxHeight, COLORREF key) {
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
