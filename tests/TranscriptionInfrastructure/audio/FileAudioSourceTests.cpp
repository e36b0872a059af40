#include "TranscriptionInfrastructure/audio/FileAudioSource.h"
#include "TranscriptionInfrastructure/audio/FileError.h"
#include "TranscriptionInfrastructure/audio/SndfileDecoder.h"

#include "support/AudioSignals.h"
#include "support/TemporaryDirectory.h"
#include "support/ThrownKind.h"

#include <gtest/gtest.h>
#include <sndfile.h>

#include <cmath>
#include <fstream>
#include <string>
#include <vector>

namespace tc {
namespace {

using test::drain;
using test::joined;

// Writes interleaved samples in the given libsndfile format.
void writeAudio(const std::filesystem::path& file, int format, int rate, int channels, const std::vector<float>& data)
{
    SF_INFO info{0, rate, channels, format, 0, 0};
    SNDFILE* handle = sf_open(file.c_str(), SFM_WRITE, &info);
    ASSERT_NE(handle, nullptr) << sf_strerror(nullptr);
    sf_writef_float(handle, data.data(), static_cast<sf_count_t>(data.size() / static_cast<std::size_t>(channels)));
    sf_close(handle);
}

constexpr int kFloatWav = SF_FORMAT_WAV | SF_FORMAT_FLOAT;

TEST(FileAudioSource, FramesTheFileAtItsRateWithRunningTimestampsAndTheMeanOfItsChannels)
{
    test::TemporaryDirectory dir;
    const struct {
        std::size_t frames;
        int channels, rate;
        std::vector<std::size_t> sizes;
    } cases[] = {{4000, 1, 16000, {1600, 1600, 800}}, {3200, 2, 44100, {1600, 1600}}, {100, 3, 48000, {100}}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.channels);
        // The first channel carries the signal times the channel count, the others silence: the mean is the signal.
        std::vector<float> signal(c.frames), interleaved;
        for (std::size_t i = 0; i < c.frames; ++i) {
            signal[i] = static_cast<float>(i % 100) / 400.0f - 0.1f;
            interleaved.push_back(signal[i] * static_cast<float>(c.channels));
            interleaved.insert(interleaved.end(), static_cast<std::size_t>(c.channels - 1), 0.0f);
        }
        const auto file = dir.path() / (std::to_string(c.channels) + ".wav");
        writeAudio(file, kFloatWav, c.rate, c.channels, interleaved);
        const auto frames = drain(FileAudioSource(file, 1600).start());
        ASSERT_EQ(frames.size(), c.sizes.size());
        for (std::size_t i = 0; i < frames.size(); ++i) {
            EXPECT_EQ(frames[i].samples.size(), c.sizes[i]);
            EXPECT_DOUBLE_EQ(frames[i].timestamp, 1600.0 * static_cast<double>(i) / c.rate);
            EXPECT_EQ(frames[i].sampleRate, c.rate);
        }
        const auto samples = joined(frames);
        for (std::size_t i = 0; i < samples.size(); ++i)
            ASSERT_NEAR(samples[i], signal[i], 1e-6f) << i;
        // Decoding in many small reads gives the same frames.
        EXPECT_EQ(drain(FileAudioSource(file, 1600, SndfileDecoder(7)).start()), frames);
    }

    // A file is read to its end whatever stop() is called in between.
    FileAudioSource source(dir.path() / "1.wav", 1600);
    auto stream = source.start();
    ASSERT_TRUE(stream->next().has_value());
    source.stop();
    EXPECT_EQ(drain(stream).size(), 2u);
}

TEST(FileAudioSource, DecodesTheCompressedFormatsDebianReads)
{
    test::TemporaryDirectory dir;
    const auto tone = test::sine(440, 48000, 48000, 0.5f);
    for (const auto& [name, format] : {std::pair{"t.flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_16},
                                       {"t.ogg", SF_FORMAT_OGG | SF_FORMAT_VORBIS},
                                       {"t.opus", SF_FORMAT_OGG | SF_FORMAT_OPUS},
                                       {"t.mp3", SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III}}) {
        SCOPED_TRACE(name);
        writeAudio(dir.path() / name, format, 48000, 1, tone);
        const auto samples = joined(drain(FileAudioSource(dir.path() / name, 1600).start()));
        // Lossy codecs add or drop a little padding, but keep the length and the loudness.
        EXPECT_NEAR(static_cast<double>(samples.size()), 48000.0, 2400.0);
        EXPECT_NEAR(test::rms(samples), 0.5 / std::sqrt(2.0), 0.02);
    }
}

TEST(FileAudioSource, BadFilesThrowTheRightError)
{
    test::TemporaryDirectory dir;
    std::ofstream(dir.path() / "notes.wav") << "these are not samples";
    writeAudio(dir.path() / "empty.wav", kFloatWav, 16000, 1, {});
    for (const auto& [name, kind] : {std::pair{"missing.wav", FileError::Kind::cannotOpen},
                                     {"notes.wav", FileError::Kind::cannotOpen},
                                     {"empty.wav", FileError::Kind::decodeFailed}}) {
        EXPECT_EQ(test::thrownKind<FileError>([&] { FileAudioSource(dir.path() / name, 1600).start(); }), kind) << name;
    }
}

} // namespace
} // namespace tc
