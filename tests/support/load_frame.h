#pragma once
// One load with a fresh reader and no range, into canvas.gray: the tests' short way to read a
// whole frame of canvas.width x canvas.height at (originX, originY).
#include <string>

#include "image/canvas.h"
#include "image/frame_loader.h"

namespace vanto {

inline Status loadFrame(Canvas& canvas, const char* path, int32_t originX, int32_t originY) {
    const int64_t w = canvas.width;
    const int64_t h = canvas.height;
    if (w < 0 || h < 0 || canvas.gray.size() < static_cast<size_t>(w * h))
        return Status::failure(StatusCode::windowOutside,
                               "the canvas holds no " + std::to_string(w) + " x " + std::to_string(h) + " gray plane");
    FrameReader reader;
    return reader.load(path, 0, originX, originY, canvas.width, canvas.height, GrayMapping{}, canvas.gray.data());
}

}  // namespace vanto
