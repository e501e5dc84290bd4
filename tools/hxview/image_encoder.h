// hxview image encoder: frames as JPEG images for the page.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "frame_files.h"

namespace hxview {

// Not thread-safe: one per thread that encodes (each holds a compressor).
class ImageEncoder {
public:
    ImageEncoder();
    ~ImageEncoder();
    ImageEncoder(const ImageEncoder&) = delete;
    ImageEncoder& operator=(const ImageEncoder&) = delete;

    // A camera frame (packed pixel rows) as a grey JPEG; false with a reason.
    bool jpeg(const std::vector<uint8_t>& frame, const halvex::common::FrameGeometry& geometry,
              std::vector<uint8_t>& jpeg, std::string& error);

private:
    void* compressor_;
    std::vector<uint8_t> grey_;
};

} // namespace hxview
