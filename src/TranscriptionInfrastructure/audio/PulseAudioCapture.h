#pragma once

#include "TranscriptionDomain/Expected.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace tc {

class PulseAudioCaptureSession;

// What a quick look at the sound server found.
struct PulseAudioServerProbe {
    // A PulseAudio (or pipewire-pulse) server answered.
    bool reachable = false;
    // The server has at least one capture source that is not a monitor of an output.
    bool hasCaptureSource = false;
    // The default output (sink) exists and has a monitor source to record from.
    bool defaultSinkHasMonitor = false;
};

// Why a capture could not begin: the kind, which the sources turn into their own errors, and the server's words.
class PulseAudioError {
public:
    enum class Kind { serverUnavailable, noDevice, streamFailed };

    PulseAudioError(Kind kind, std::string detail);
    Kind kind() const { return m_kind; }
    const std::string& detail() const { return m_detail; }

private:
    Kind m_kind;
    std::string m_detail;
};

// The device's sample format as recorded: 32-bit float at the device's own rate and channel count.
struct CaptureFormat {
    double sampleRate = 0;
    std::uint32_t channels = 0;

    friend bool operator==(const CaptureFormat&, const CaptureFormat&) = default;
};

// One block of recorded audio, interleaved: bufferFrames frames, or fewer when the source paused.
struct CaptureBuffer {
    std::vector<float> interleaved;
    CaptureFormat format;
    // Position of the first frame on the capture's own clock, in frames at format.sampleRate.
    std::int64_t samplePosition = 0;

    // Frames in the block.
    std::size_t frameCount() const { return format.channels ? interleaved.size() / format.channels : 0; }
};

// Records one device through the PulseAudio client API (threaded main loop). The server's thread only gathers
// what arrives into blocks of the requested length and puts them into a lock-free queue; a delivery thread of this
// object hands blocks to the tap in order, so the server's thread never takes a lock that a consumer can hold and never
// waits for one. A change of the followed default device, or of its format, reopens the record stream on the new device
// and format without ending delivery. Public calls are serialised inside; stop() must not be called from the tap
// itself.
class PulseAudioCapture {
public:
    // What is recorded. A chosen device (by name) is recorded while it exists; while it does not, the default
    // stands in and the capture returns to the chosen one once it appears again.
    enum class Device {
        // The default source (or the chosen source), which must be a real input (not a monitor of an output).
        defaultSource,
        // The monitor source of the default sink (or of the chosen sink): what the computer plays.
        defaultSinkMonitor,
    };

    // Called on the delivery thread with each block, in order.
    using Tap = std::function<void(const CaptureBuffer&)>;
    // Called once on the delivery thread when capture ends by itself, with why: serverUnavailable (the server
    // went away), noDevice (the followed device is gone), streamFailed (the server keeps refusing the stream).
    using Ended = std::function<void(PulseAudioError::Kind)>;
    // Called on the delivery thread each time the default starts standing in for the missing chosen device, with
    // the chosen device's description (its name when the server never described it).
    using FellBack = std::function<void(const std::string& chosen)>;

    // Connects briefly (without spawning a server) and reports what can be captured; never throws.
    static PulseAudioServerProbe probeServer(std::chrono::milliseconds timeout = std::chrono::milliseconds(2000));

    // Nothing is connected until start(). bufferFrames is the requested block length in frames; chosenDevice is
    // the source name (defaultSource) or sink name (defaultSinkMonitor) to record, empty for the default.
    PulseAudioCapture(Device device, std::uint32_t bufferFrames = 1024,
                      std::string streamName = "transcription-corvane", std::string chosenDevice = {});
    ~PulseAudioCapture();
    PulseAudioCapture(const PulseAudioCapture&) = delete;
    PulseAudioCapture& operator=(const PulseAudioCapture&) = delete;

    // Connects and starts recording into the one tap; done, or why it cannot (no server, no device, stream
    // refused). A capture that is already running is stopped first.
    Expected<void, PulseAudioError> start(Tap tap, Ended ended, FellBack fellBack = {});
    // Stops recording and disconnects; no tap or ended call follows. Harmless when not running.
    void stop();
    // The format of the stream currently recording; zeros when none.
    CaptureFormat format() const;
    // Name of the server-side device currently recorded; empty when none.
    std::string deviceName() const;

private:
    Device m_device;
    std::uint32_t m_bufferFrames;
    std::string m_streamName;
    std::string m_chosenDevice;
    mutable std::mutex m_mutex;
    std::unique_ptr<PulseAudioCaptureSession> m_session;
};

} // namespace tc
