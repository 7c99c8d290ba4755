#pragma once
// Skin bitmaps and the window regions cut from them by a key colour.
#include <functional>
#include <vector>

#include "framework/gdi.h"
#include "framework/image.h"
#include "skin/image_runs.h"

// Loads a bitmap resource of the program as a DIB section into the image, which then owns it. A failed
// load leaves the image empty and returns false.
bool LoadSkinImage(CImage& image, UINT resourceId);

// The same bitmap for a window at dpi, width × height pixels: the artwork of the nearest scale (the bitmap
// itself at 96 dpi, its packed 1.5x or 2x twin at the id plus IDB_SCALE_STEP once or twice), stretched to
// that size when it was drawn for another. A failed load leaves the image empty and returns false.
bool LoadSkinImage(CImage& image, UINT resourceId, int dpi, int width, int height);

// Sets out to the region of the top-left min(width, maxWidth) × min(height, maxHeight) pixels of the
// source whose colour is not the key: exactly the union of the runs FindImageRuns reports. Returns false
// only when GDI could not make the region (out is then empty).
bool CreateImageRgn(const CImageView& source, CRgn& out, int maxWidth, int maxHeight, COLORREF key);

// The region that is the union of the rectangles, made by ExtCreateRegion in batches merged pairwise
// rather than by one CombineRgn per rectangle into an ever larger result.
bool RegionFromRects(const std::vector<Skin::PixelRect>& rects, CRgn& out);

// The buffered painting the shaped dialog and the image button share. `draw` paints the whole face into a
// DC on the buffer.
using FacePainter = std::function<void(HDC)>;

// WM_PAINT: the face is drawn into the buffer (background mode transparent) and the paint DC's clip box is
// copied to the screen. An empty buffer draws nothing.
void PaintThroughBuffer(HDC paintDC, CImage& buffer, const FacePainter& draw);

// WM_SIZE: grows the buffer when the window outgrew every earlier size (it never shrinks, so painting never
// allocates), repaints the face into it and gives the window the region of every pixel not painted in the
// key colour.
void ReshapeFromBuffer(HWND window, CImage& buffer, int& bufferWidth, int& bufferHeight, int cx, int cy,
                       COLORREF key, const FacePainter& draw);
