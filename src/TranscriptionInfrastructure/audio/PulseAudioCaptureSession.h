#pragma once

#include "TranscriptionInfrastructure/audio/CaptureQueue.h"
#include "TranscriptionInfrastructure/audio/PulseAudioCapture.h"
#include "TranscriptionInfrastructure/audio/PulseAudioMainLoop.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <stop_token>
#include <string>
#include <thread>

namespace tc {

// One connection of a PulseAudioCapture with its record stream and delivery thread. Everything under "loop state"
// is touched only on the loop's thread or with the loop locked.
class PulseAudioCaptureSession {
public:
    using Device = PulseAudioCapture::Device;
    using Tap = PulseAudioCapture::Tap;
    using Ended = PulseAudioCapture::Ended;
    using FellBack = PulseAudioCapture::FellBack;

    // Nothing is connected until open(). chosenDevice as in PulseAudioCapture; empty follows the default.
    PulseAudioCaptureSession(Device device, std::uint32_t bufferFrames, const std::string& streamName,
                             const std::string& chosenDevice, Tap tap, Ended ended, FellBack fellBack);
    // Disconnects and joins the delivery thread; no tap or ended call follows.
    ~PulseAudioCaptureSession();
    PulseAudioCaptureSession(const PulseAudioCaptureSession&) = delete;
    PulseAudioCaptureSession& operator=(const PulseAudioCaptureSession&) = delete;

    // Connects, finds the followed device and starts its record stream and the delivery thread; done, or why it
    // cannot (serverUnavailable, noDevice, streamFailed).
    Expected<void, PulseAudioError> open();
    // The format of the stream currently recording; zeros when none.
    CaptureFormat format() const;
    // Name of the device currently recorded; empty when none.
    std::string deviceName() const;

private:
    struct Resolution {
        std::string name;
        std::uint32_t index = PA_INVALID_INDEX;
        CaptureFormat format;
        // The chosen device's description (of the sink, for a monitor); empty when the default stands in.
        std::string description;
        // The chosen device is missing and the default stands in.
        bool fellBack = false;
    };
    using Resolved = std::function<void(std::optional<Resolution>)>;
    // One run of resolve(), passed through libpulse's callbacks.
    struct Lookup {
        PulseAudioCaptureSession* session;
        Resolved done;
        std::optional<Resolution> found;
        std::string sourceName;
        // Looking for the chosen device, not (yet) the default.
        bool tryingChosen = false;
        bool fellBack = false;
        std::string description;
    };
    // What the loop hands the delivery thread: a block, or the end of the capture.
    struct Delivery {
        CaptureBuffer buffer;
        bool endOfCapture = false;
        PulseAudioError::Kind why = PulseAudioError::Kind::serverUnavailable;
        // Not empty: the default now stands in for this chosen device.
        std::string fellBackFrom;
    };

    // Finds the followed device and its format, asynchronously on the loop; nothing when there is none.
    void resolve(Resolved done);
    // Hands the lookup's result to its caller and frees it.
    static void finishLookup(Lookup* lookup);
    // Lookup step: asks for the chosen source, or for the chosen sink whose monitor is recorded.
    static void queryChosen(pa_context* context, Lookup* lookup);
    // Lookup step: asks which devices are the defaults.
    static void queryDefaults(pa_context* context, Lookup* lookup);
    // Lookup step: nothing usable found; a missing chosen device lets the default stand in, else the lookup ends.
    static void fallBackOrFinish(pa_context* context, Lookup* lookup);
    // Lookup step: the server names the default source, or the default sink whose monitor is followed.
    static void onServerInfo(pa_context* context, const pa_server_info* info, void* userdata);
    // Lookup step: the default (or chosen) sink names its monitor source.
    static void onSinkInfo(pa_context* context, const pa_sink_info* info, int eol, void* userdata);
    // Lookup step: asks for the followed source's format.
    static void querySource(pa_context* context, Lookup* lookup);
    // Lookup step: the followed source and its format; a monitor never stands in for a microphone.
    static void onSourceInfo(pa_context*, const pa_source_info* info, int eol, void* userdata);
    // Opens the record stream on the device; the sample clock carries on from the previous stream. Loop locked.
    bool openStream(const Resolution& resolution);
    // Reads every block the server has and gathers it into blocks of the requested length for the delivery
    // thread (servers hand monitors over in much smaller pieces). Loop thread; takes no other lock.
    static void onReadable(pa_stream* stream, std::size_t, void* userdata);
    // Hands the first samples of the gathered audio to the delivery thread. Loop thread.
    void deliverPending(std::size_t samples);
    // A short block still goes out once it has waited two blocks' duration (a source that pauses).
    void armFlushTimer();
    // Sends out a short block that has waited too long.
    static void onFlushTimer(pa_mainloop_api* api, pa_time_event* event, const struct timeval*, void* userdata);
    // Wakes open() while it waits; afterwards a failed stream follows the default device again, or ends.
    static void onStreamState(pa_stream* stream, void* userdata);
    // A lost server ends the capture.
    static void onContextState(pa_context* context, void* userdata);
    // A change of the default device, or of the recorded device, refollows it; so does a new source while the
    // default stands in for the chosen device.
    static void onServerEvent(pa_context*, pa_subscription_event_type_t type, std::uint32_t index, void* userdata);
    // Looks the followed device up again; a new device or format reopens the stream. Loop thread.
    void refollow();
    // Takes a resolution's fallback state; tells the delivery thread when the default starts standing in.
    void noteFallback(const Resolution& resolution);
    // Ends the capture once, telling the delivery thread why after the audio gathered so far. Loop thread.
    void end(PulseAudioError::Kind why);
    // The delivery thread: hands the blocks to the tap in order, then the end to `ended`.
    void deliver(std::stop_token stop);

    const Device m_device;
    const std::uint32_t m_bufferFrames;
    const std::string m_streamName;
    const std::string m_chosenDevice;
    const Tap m_tap;
    const Ended m_ended;
    const FellBack m_fellBack;

    // Loop state.
    PulseAudioMainLoop::MainloopPtr m_mainloop;
    PulseAudioMainLoop::ContextPtr m_context;
    PulseAudioMainLoop::StreamPtr m_stream;
    std::string m_deviceName;
    std::uint32_t m_deviceIndex = PA_INVALID_INDEX;
    CaptureFormat m_format;
    CaptureBuffer m_pending;
    pa_usec_t m_pendingSince = 0;
    pa_time_event* m_flushTimer = nullptr;
    double m_baseSeconds = 0;
    std::int64_t m_framesInStream = 0;
    int m_failuresWithoutData = 0;
    bool m_opened = false;
    bool m_closing = false;
    bool m_endSent = false;
    bool m_lookupRunning = false;
    bool m_lookupAgain = false;
    bool m_fallenBack = false;
    std::string m_chosenDescription;

    CaptureQueue<Delivery> m_queue;
    std::jthread m_delivery;
};

} // namespace tc
