#pragma once
// Skin bitmaps and the window regions cut from them by a key colour.
#include <vector>

#include "framework/gdi.h"
#include "framework/image.h"
#include "skin/image_runs.h"

// Loads a bitmap resource of the program as a DIB section into the image, which then owns it. A failed
// load leaves the image empty and returns false.
bool LoadSkinImage(CImage& image, UINT resourceId);

// Sets out to the region of the top-left min(width, maxWidth) × min(height, maxHeight) pixels of the
// source whose colour is not the key: exactly the union of the runs FindImageRuns reports. Returns false
// only when GDI could not make the region (out is then empty).
bool CreateImageRgn(const CImage& source, CRgn& out, int maxWidth, int maxHeight, COLORREF key);

// The region that is the union of the rectangles, made by ExtCreateRegion in batches merged pairwise
// rather than by one CombineRgn per rectangle into an ever larger result.
bool RegionFromRects(const std::vector<Skin::PixelRect>& rects, CRgn& out);
