#pragma once

#include "TranscriptionApplication/Channel.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tc {

// The sample layout a recognizer takes.
struct AnalyzerAudioFormat {
    enum class CommonFormat { float32, int16 };

    CommonFormat commonFormat = CommonFormat::float32;
    double sampleRate = 16000;
    std::uint32_t channelCount = 1;

    friend bool operator==(const AnalyzerAudioFormat&, const AnalyzerAudioFormat&) = default;
};

// One block of audio in the recognizer's format; it follows the previous block on the recognizer's time line.
struct AnalyzerBuffer {
    AnalyzerAudioFormat format;
    // Frames, channels interleaved.
    std::vector<float> samples;
};

// An interim (volatile) or final hypothesis for a stretch of the recognizer's time line (seconds of audio fed).
struct RecognitionResult {
    std::string text;
    double start = 0;
    double end = 0;
    bool isFinal = false;
    // The text is for the user's log, not the transcript (a device change); start and end are unused.
    bool isNotice = false;

    friend bool operator==(const RecognitionResult&, const RecognitionResult&) = default;
};

// What the transcriber asks of a recognizer module.
struct RecognizerModule {
    // BCP-47, e.g. "ja-JP".
    std::string locale;
    // Report interim results as well as final ones.
    bool volatileResults = true;
};

// One recognition run over one input sequence. Thread-safe: any thread may call any member.
class StreamingRecognizer {
public:
    virtual ~StreamingRecognizer() = default;

    // The format start()'s buffers must have; nothing when the recognizer cannot say.
    virtual std::optional<AnalyzerAudioFormat> bestAvailableAudioFormat() = 0;
    // Begins recognising the buffers of input as they arrive; throws (Japanese what()) when it cannot start.
    virtual void start(Stream<AnalyzerBuffer> input) = 0;
    // Returns once every buffer of the finished input has been recognised and results() has ended.
    virtual void finalizeAndFinishThroughEndOfInput() = 0;
    // The results in order; fails with the recognizer's error.
    virtual Stream<RecognitionResult> results() = 0;
    // Stops at once, abandoning any decoding in progress; results() ends.
    virtual void cancel() = 0;
};

} // namespace tc
