// The images a camera streams, drawn once per size and format: every frame after that is the
// same drawn pattern seen from another row, with only its frame number and serial written anew.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "sim/frames/frame_store.h"

namespace hxsim {

// One frame's bytes without a copy of its pixels: a prefix shared by every frame of its size
// (a TIFF's directory), its own first words (frame number, serial), and a window onto a drawn
// strip. Holds the strip alive, so it stays valid while the frame is on its way.
class FrameImage {
public:
    FrameImage() = default;
    // A frame held in a buffer of its own.
    static FrameImage owning(std::vector<uint8_t> bytes);

    std::size_t size() const;
    // The frame's bytes as up to three consecutive pieces.
    std::array<std::span<const uint8_t>, 3> parts() const;
    // Copies bytes [offset, offset + out.size()); the range must lie inside the frame.
    void copy(std::size_t offset, std::span<uint8_t> out) const;
    std::vector<uint8_t> bytes() const;

private:
    friend class FrameDrawer;

    std::shared_ptr<const void> keep_;
    std::span<const uint8_t> prefix_;
    std::array<uint8_t, 16> head_{};
    std::size_t headSize_ = 0;
    // A scene frame's band of rows with its number, in place of head_.
    std::shared_ptr<const std::vector<uint8_t>> band_;
    std::span<const uint8_t> body_;
};

// The drawn strips of the last few sizes and formats. The pattern byte at row r, column c of
// frame f is (c + r + 3f) mod 256, so frame f is the strip of frame 0 seen from row 3f mod 256:
// a strip 255 rows taller than a frame holds every frame. Sizes whose strip would be much larger
// than a frame (a handful of very long rows) are drawn per frame instead.
//
// A camera with the scene (FrameScene) draws a cycle of its pictures once per size instead, and
// writes only the band holding the number (and the first words) per frame.
//
// Not thread-safe: the streaming thread owns it.
class FrameDrawer {
public:
    explicit FrameDrawer(bool scene = false) : scene_(scene) {}
    // The frame as the camera holds it (live, playback and packed download).
    FrameImage raw(uint32_t frameNumber, uint32_t serial, const FrameGeometry& geometry);
    // The frame as the TIFF file a download delivers.
    FrameImage tiff(uint32_t frameNumber, uint32_t serial, const FrameGeometry& geometry);

private:
    struct Drawn;
    std::shared_ptr<const Drawn> drawn(bool tiff, const FrameGeometry& geometry);
    static FrameImage view(const std::shared_ptr<const Drawn>& drawn, uint32_t frameNumber, uint32_t serial);
    static FrameImage sceneView(const std::shared_ptr<const Drawn>& drawn, uint32_t frameNumber, uint32_t serial);
    void drawScene(Drawn& drawn) const;

    const bool scene_;
    std::vector<std::shared_ptr<const Drawn>> cache_;
};

} // namespace hxsim
