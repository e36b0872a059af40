#pragma once

#include "TranscriptionDomain/Expected.h"

#include <cstdint>
#include <filesystem>
#include <istream>
#include <string>

namespace tc {

// The hyper-parameters and weights of a whisper.cpp model file whose layout is sound.
struct WhisperModelLayout {
    std::int32_t vocabularySize = 0;
    std::int32_t audioContext = 0;
    std::int32_t audioState = 0;
    std::int32_t audioHeads = 0;
    std::int32_t audioLayers = 0;
    std::int32_t textContext = 0;
    std::int32_t textState = 0;
    std::int32_t textHeads = 0;
    std::int32_t textLayers = 0;
    std::int32_t mels = 0;
    std::int32_t fileType = 0;
    // Tensors in the file; 0 for a file holding only the header, filters and vocabulary.
    std::int32_t tensorCount = 0;
    // Bytes of tensor data, about what loading the weights takes in memory.
    std::uint64_t weightBytes = 0;
};

// Reads a whisper.cpp model file's whole layout without loading its weights: header, hyper-parameters, mel
// filters, vocabulary, and every tensor's name, shape, type and size against the file's size. whisper.cpp
// trusts these fields and aborts, throws from inside its C API or reads garbage when one is damaged, so every
// loader runs this first. Stateless; any thread may call.
class WhisperModelFileCheck {
public:
    enum class Problem {
        // Nothing at the path.
        missing,
        // Something that is not a regular file (a directory, a device, a pipe) is at the path.
        notAFile,
        // The file exists but cannot be opened for reading (permissions).
        unreadable,
        // The layout is broken: truncated, a value out of range, a tensor of the wrong name, shape or size.
        damaged,
        // A sound file in a weight format this engine cannot read.
        unsupported,
    };
    struct Failure {
        Problem problem = Problem::damaged;
        // What exactly is wrong, a short Japanese phrase ("層の数が不正です（99999）"); empty for missing/unreadable.
        std::string reason;
    };
    // The sound layout, or what is wrong with the file.
    using Result = Expected<WhisperModelLayout, Failure>;

    // Opens the file without blocking (a pipe is refused, not waited on) and checks it. allowWeightless accepts a
    // file without tensors, which whisper.cpp fills with zeros (a stand-in for speed measurements).
    static Result check(const std::filesystem::path& file, bool allowWeightless = false);
    // Checks a model given as a stream of size bytes (a file's content, or bytes in memory).
    static Result check(std::istream& in, std::uint64_t size, bool allowWeightless = false);
};

} // namespace tc
