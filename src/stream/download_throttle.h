// The download throttle: pauses a camera while the host's download buffers run short, resumes it
// once enough are lent again, and knows which frames the download still has to bring.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace halvex::control {
class RegisterChannel;
} // namespace halvex::control

namespace halvex::stream {

// Owned by a receiver, which decides from its buffer queues when to pause; the throttle keeps
// the pause state, writes it to the camera (only a change is written) and tracks the download's
// frames. Threads: set(), current(), setDownloadRange() and paused() from any thread; the rest on
// the receiver's thread.
class DownloadThrottle {
public:
    // Buffers queued for a download at or below which the camera is paused, and at or above
    // which it is resumed. Process-wide, written by the stream settings.
    struct Counts {
        uint32_t pauseCount;
        uint32_t resumeCount;
    };
    static constexpr Counts DEFAULT_COUNTS{2, 10};
    static void set(Counts counts);
    static Counts current();

    // A download that leaves less than this much queued buffer space pauses the camera.
    static constexpr std::size_t MIN_QUEUED_SPACE = 9000;
    static constexpr uint32_t UNKNOWN_FRAME = 0xFFFFFFFF;

    // `className` and `where` name the receiver in log lines; both outlive the throttle.
    DownloadThrottle(control::RegisterChannel& registers, const char* className, const std::string& where);

    // The frames a download is to bring, first and last, and whether the camera's service thread
    // must see every image before the host does (it converts them); taken up by the next
    // startDownload.
    void setDownloadRange(uint32_t firstFrame, uint32_t lastFrame, bool serviceSeesEveryImage);
    // The download parser was switched on: the range last set applies from now on.
    void startDownload();
    // The download's image `frame` went back to the host with `receivedLength` bytes.
    void noteImage(uint32_t frame, uint32_t receivedLength);
    // Frames the download still has to bring (0: none); nothing when its range is not known.
    std::optional<std::size_t> framesToCome() const;
    // The download's last frame has not come back yet, or came back empty, which does not end a
    // download (false when its range is not known).
    bool endToCome() const;
    // Whether the download's image `frame` may go straight back to the host, past the camera's
    // service thread: an image before the last of a known range that needs no conversion. The
    // last image ends the download there, and images outside the range are left to it too.
    bool goesStraightBack(uint32_t frame) const;
    // Whether a download with `queued` buffers holding `space` bytes is short of buffers.
    static bool shortOfBuffers(std::size_t queued, std::size_t space);
    uint32_t firstFrame() const;
    uint32_t lastFrame() const;

    bool paused() const;
    // Records the pause state; false when it is already so (nothing to tell the camera).
    bool change(bool pause);
    // Tells the camera to pause or resume its stream.
    void tellCamera(bool pause);

private:
    control::RegisterChannel& registers_;
    const char* const className_;
    const std::string& where_;
    std::atomic<bool> paused_{false};
    std::atomic<uint64_t> range_{~uint64_t{0}};
    std::atomic<bool> serviceSeesEveryImageNext_{true};
    bool serviceSeesEveryImage_ = true;
    // The download's first frame, the next it will bring and its last; UNKNOWN_FRAME when not known.
    uint32_t firstFrame_ = UNKNOWN_FRAME;
    uint32_t nextFrame_ = UNKNOWN_FRAME;
    uint32_t lastFrame_ = UNKNOWN_FRAME;
    // The last frame came back without a byte (its packets lost).
    bool endEmpty_ = false;
};

} // namespace halvex::stream
