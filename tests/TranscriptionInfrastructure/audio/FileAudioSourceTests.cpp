#include "TranscriptionInfrastructure/audio/FileAudioSource.h"
#include "TranscriptionInfrastructure/audio/FileError.h"
#include "TranscriptionInfrastructure/audio/SndfileDecoder.h"

#include "support/AudioSignals.h"
#include "support/TemporaryDirectory.h"
#include "support/TestPaths.h"

#include <gtest/gtest.h>
#include <sndfile.h>

#include <cmath>
#include <fstream>
#include <string>
#include <vector>

using tc::FileAudioSource;
using tc::FileError;
using tc::test::drain;
using tc::test::joined;
using tc::test::rms;

namespace {

// Writes interleaved samples in the given libsndfile format.
void writeAudio(const std::filesystem::path& file, int format, int rate, int channels, const std::vector<float>& data)
{
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = channels;
    info.format = format;
    SNDFILE* handle = sf_open(file.c_str(), SFM_WRITE, &info);
    ASSERT_NE(handle, nullptr) << sf_strerror(nullptr);
    sf_writef_float(handle, data.data(), static_cast<sf_count_t>(data.size() / static_cast<std::size_t>(channels)));
    sf_close(handle);
}

constexpr int kFloatWav = SF_FORMAT_WAV | SF_FORMAT_FLOAT;

std::vector<float> ramp(std::size_t n)
{
    std::vector<float> out(n);
    for (std::size_t i = 0; i < n; ++i)
        out[i] = static_cast<float>(i % 1000) / 1000.0f - 0.5f;
    return out;
}

} // namespace

TEST(FileAudioSource, FramesTheFileWithRunningTimestampsAndStopChangesNothing)
{
    tc::test::TemporaryDirectory dir;
    const auto samples = ramp(4000);
    writeAudio(dir.path() / "a.wav", kFloatWav, 16000, 1, samples);

    FileAudioSource source(dir.path() / "a.wav", 1600);
    source.stop();
    const auto frames = drain(source.start());
    ASSERT_EQ(frames.size(), 3u);
    EXPECT_EQ(frames[0].samples.size(), 1600u);
    EXPECT_EQ(frames[2].samples.size(), 800u);
    for (std::size_t i = 0; i < frames.size(); ++i) {
        EXPECT_DOUBLE_EQ(frames[i].timestamp, 0.1 * static_cast<double>(i));
        EXPECT_EQ(frames[i].sampleRate, 16000.0);
    }
    // A mono file's samples come through unchanged.
    EXPECT_EQ(joined(frames), samples);
    EXPECT_FALSE(source.isContinuous());

    // A file is read to its end whatever stop() is called in between.
    auto stream = source.start();
    ASSERT_TRUE(stream->next().has_value());
    source.stop();
    EXPECT_EQ(drain(stream).size(), 2u);

    // An exact multiple leaves no empty trailing frame; a short file gives one frame.
    writeAudio(dir.path() / "b.wav", kFloatWav, 16000, 1, ramp(3200));
    EXPECT_EQ(drain(FileAudioSource(dir.path() / "b.wav", 1600).start()).size(), 2u);
    writeAudio(dir.path() / "c.wav", kFloatWav, 16000, 1, ramp(100));
    const auto shortFile = drain(FileAudioSource(dir.path() / "c.wav", 1600).start());
    ASSERT_EQ(shortFile.size(), 1u);
    EXPECT_EQ(shortFile[0].samples.size(), 100u);
}

TEST(FileAudioSource, SeveralChannelsBecomeTheirMean)
{
    tc::test::TemporaryDirectory dir;
    for (const int channels : {2, 3}) {
        SCOPED_TRACE(channels);
        // The first channel holds 0.5, the others a ramp.
        std::vector<float> interleaved;
        for (int i = 0; i < 500; ++i) {
            interleaved.push_back(0.5f);
            for (int c = 1; c < channels; ++c)
                interleaved.push_back(static_cast<float>(i) / 1000.0f);
        }
        const auto file = dir.path() / (std::to_string(channels) + ".wav");
        writeAudio(file, kFloatWav, 44100, channels, interleaved);
        const auto frames = drain(FileAudioSource(file, 1600).start());
        ASSERT_EQ(frames.size(), 1u);
        ASSERT_EQ(frames[0].samples.size(), 500u);
        EXPECT_EQ(frames[0].sampleRate, 44100.0);
        for (int i = 0; i < 500; ++i)
            EXPECT_FLOAT_EQ(frames[0].samples[static_cast<std::size_t>(i)],
                            (0.5f + static_cast<float>(channels - 1) * static_cast<float>(i) / 1000.0f) /
                                static_cast<float>(channels));
    }
}

TEST(FileAudioSource, DecodesTheCompressedFormatsDebianReads)
{
    tc::test::TemporaryDirectory dir;
    const auto tone = tc::test::sine(440, 48000, 48000, 0.5f);
    const struct {
        const char* name;
        int format;
    } formats[] = {
        {"t.flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_16},
        {"t.ogg", SF_FORMAT_OGG | SF_FORMAT_VORBIS},
        {"t.opus", SF_FORMAT_OGG | SF_FORMAT_OPUS},
        {"t.mp3", SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III},
    };
    for (const auto& f : formats) {
        SCOPED_TRACE(f.name);
        writeAudio(dir.path() / f.name, f.format, 48000, 1, tone);
        const auto samples = joined(drain(FileAudioSource(dir.path() / f.name, 1600).start()));
        // Lossy codecs add or drop a little padding, but keep the length and the loudness.
        EXPECT_NEAR(static_cast<double>(samples.size()), 48000.0, 2400.0);
        EXPECT_NEAR(rms(samples), 0.5 / std::sqrt(2.0), 0.02);
    }

    // The bundled Japanese speech sample.
    const auto speech = drain(FileAudioSource(tc::test::dataDir() / "speech" / "conversation.flac", 1600).start());
    ASSERT_FALSE(speech.empty());
    EXPECT_EQ(speech.front().sampleRate, 16000.0);
    EXPECT_GT(rms(joined(speech)), 0.001);
}

TEST(FileAudioSource, DecodingInManySmallReadsGivesTheSameSamples)
{
    tc::test::TemporaryDirectory dir;
    const auto file = dir.path() / "long.wav";
    writeAudio(file, kFloatWav, 16000, 2, ramp(2 * 10007));
    const auto whole = std::get<tc::DecodedAudio>(tc::SndfileDecoder().decode(file));
    const auto pieces = std::get<tc::DecodedAudio>(tc::SndfileDecoder(7).decode(file));
    EXPECT_EQ(whole.frameCount(), 10007u);
    EXPECT_EQ(pieces.channels, whole.channels);
    EXPECT_EQ(pieces.sampleRate, 16000.0);
    EXPECT_EQ(drain(FileAudioSource(file, 1600, tc::SndfileDecoder(7)).start()).size(), 7u);
}

TEST(FileAudioSource, BadFilesThrowTheRightError)
{
    tc::test::TemporaryDirectory dir;
    std::ofstream(dir.path() / "notes.wav") << "these are not samples";
    writeAudio(dir.path() / "empty.wav", kFloatWav, 16000, 1, {});
    for (const auto& [name, kind] : {std::pair{"missing.wav", FileError::Kind::cannotOpen},
                                     {"notes.wav", FileError::Kind::cannotOpen},
                                     {"empty.wav", FileError::Kind::decodeFailed}}) {
        try {
            FileAudioSource(dir.path() / name, 1600).start();
            ADD_FAILURE() << "no FileError for " << name;
        } catch (const FileError& error) {
            EXPECT_EQ(error.kind(), kind) << name;
            EXPECT_NE(std::string(error.what()).find("音声ファイル"), std::string::npos);
        }
    }
}
