#pragma once
#include <cstdint>
#include <string>

#include "image/canvas.h"

namespace vanto {

enum class LoadStatus {
    ok,
    undecodable,        // missing file, not TIFF or PNG, or a broken file
    unsupportedFormat,  // decodable, but not 8-bit gray, palette, RGB or RGBA
    windowOutside,      // the window does not lie inside the image
};

struct LoadResult {
    LoadStatus status = LoadStatus::ok;
    std::string detail;  // one line saying why, for every status but ok
};

// Copies the frameWidth x frameHeight window at (originX, originY) of the image at path into
// canvas.gray, top row first. The format is chosen by the file's first bytes (TIFF or PNG).
// 8-bit gray and palette images deliver the stored bytes (palette indices, not colours);
// 8-bit RGB and RGBA become gray by round(0.299 R + 0.587 G + 0.114 B). On any failure the
// gray plane is left as it was.
LoadResult loadFrame(Canvas& canvas, const char* path, int32_t originX, int32_t originY);

}  // namespace vanto
