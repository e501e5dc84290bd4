// hxview image encoder, on libjpeg-turbo.
#include "image_encoder.h"

#include <turbojpeg.h>

namespace hxview {
namespace {

// Enough for a person to judge focus and exposure, small enough to keep up with the camera.
constexpr int kQuality = 80;

} // namespace

ImageEncoder::ImageEncoder() : compressor_(tjInitCompress()) {}

ImageEncoder::~ImageEncoder()
{
    if (compressor_ != nullptr)
        tjDestroy(compressor_);
}

bool ImageEncoder::jpeg(const std::vector<uint8_t>& frame, const halvex::common::FrameGeometry& geometry,
                        std::vector<uint8_t>& jpeg, std::string& error)
{
    if (compressor_ == nullptr) {
        error = "no JPEG compressor";
        return false;
    }
    if (!halvex::common::eightBitPixels(frame.data(), frame.size(), geometry, grey_, error))
        return false;
    unsigned char* out = nullptr;
    unsigned long size = 0;
    const int width = static_cast<int>(geometry.width);
    const int height = static_cast<int>(geometry.height);
    if (tjCompress2(compressor_, grey_.data(), width, width, height, TJPF_GRAY, &out, &size, TJSAMP_GRAY, kQuality,
                    TJFLAG_FASTDCT) != 0) {
        error = std::string("JPEG: ") + tjGetErrorStr2(compressor_);
        tjFree(out);
        return false;
    }
    jpeg.assign(out, out + size);
    tjFree(out);
    return true;
}

} // namespace hxview
