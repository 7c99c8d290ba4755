#pragma once
// Runs of non-key pixels: the rows of a window region cut from a picture. Portable: it reads pixel memory
// only, 4 bytes a pixel (blue, green, red, unused), as 32-bit DIB sections store them.
#include <cstddef>
#include <cstdint>
#include <vector>

namespace Skin {

// A pixel rectangle, right and bottom exclusive, like a Win32 RECT.
struct PixelRect {
    int left;
    int top;
    int right;
    int bottom;
    friend bool operator==(const PixelRect& a, const PixelRect& b) {
        return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
    }
};

// True when the pixel's red, green and blue equal the key's. The key is a colour value 0x00BBGGRR; its top
// byte, like the pixel's fourth byte, takes no part.
bool PixelMatchesKey(const std::uint8_t* pixel, std::uint32_t key);

// Appends one rectangle (left, y)–(right, y + 1) for every run of non-key pixels of the row.
void AppendRowRuns(const std::uint8_t* row, int width, int y, std::uint32_t key, std::vector<PixelRect>& runs);

// Every run of the picture, rows from the top down. topRow is the first pixel of the top row and pitch the
// byte distance from one row to the next one down (negative for bottom-up memory).
std::vector<PixelRect> FindImageRuns(const std::uint8_t* topRow, std::ptrdiff_t pitch, int width, int height,
                                     std::uint32_t key);

}  // namespace Skin
