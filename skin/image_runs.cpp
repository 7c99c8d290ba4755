#include "skin/image_runs.h"

namespace Skin {

bool PixelMatchesKey(const std::uint8_t* pixel, std::uint32_t key) {
    return pixel[2] == (key & 0xFF) && pixel[1] == ((key >> 8) & 0xFF) && pixel[0] == ((key >> 16) & 0xFF);
}

void AppendRowRuns(const std::uint8_t* row, int width, int y, std::uint32_t key, std::vector<PixelRect>& runs) {
    int x = 0;
    while (x < width) {
        const int start = x;
        while (x < width && !PixelMatchesKey(row + static_cast<std::ptrdiff_t>(x) * 4, key)) ++x;
        if (x > start) runs.push_back(PixelRect{start, y, x, y + 1});
        ++x;  // the key pixel that ended the run
    }
}

std::vector<PixelRect> FindImageRuns(const std::uint8_t* topRow, std::ptrdiff_t pitch, int width, int height,
                                     std::uint32_t key) {
    std::vector<PixelRect> runs;
    if (!topRow || width <= 0 || height <= 0) return runs;
    for (int y = 0; y < height; ++y) AppendRowRuns(topRow + pitch * y, width, y, key, runs);
    return runs;
}

}  // namespace Skin
