#include "TranscriptionInfrastructure/audio/FileAudioSource.h"
#include "TranscriptionInfrastructure/audio/FileError.h"
#include "TranscriptionInfrastructure/audio/MonoMixdown.h"
#include "TranscriptionInfrastructure/audio/SndfileDecoder.h"

#include "support/TestPaths.h"

#include <gtest/gtest.h>
#include <sndfile.h>

#include <cmath>
#include <fstream>
#include <numbers>
#include <string>
#include <vector>

using tc::AudioFrame;
using tc::FileAudioSource;
using tc::FileError;

namespace {

class TempDir {
public:
    TempDir()
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "tc-file-XXXXXX").string();
        m_path = mkdtemp(pattern.data());
    }
    ~TempDir()
    {
        std::error_code ignored;
        std::filesystem::remove_all(m_path, ignored);
    }
    std::filesystem::path operator/(const std::string& name) const { return m_path / name; }

private:
    std::filesystem::path m_path;
};

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

std::vector<AudioFrame> drain(const tc::AudioFrameStream& stream)
{
    std::vector<AudioFrame> frames;
    while (auto frame = stream->next())
        frames.push_back(std::move(*frame));
    return frames;
}

std::vector<float> ramp(std::size_t n)
{
    std::vector<float> out(n);
    for (std::size_t i = 0; i < n; ++i)
        out[i] = static_cast<float>(i % 1000) / 1000.0f - 0.5f;
    return out;
}

double rms(const std::vector<float>& samples)
{
    double sum = 0;
    for (float s : samples)
        sum += static_cast<double>(s) * s;
    return samples.empty() ? 0 : std::sqrt(sum / static_cast<double>(samples.size()));
}

std::vector<float> joined(const std::vector<AudioFrame>& frames)
{
    std::vector<float> out;
    for (const auto& f : frames)
        out.insert(out.end(), f.samples.begin(), f.samples.end());
    return out;
}

template <class F>
void expectFileError(F&& start, FileError::Kind kind)
{
    try {
        start();
        FAIL() << "no FileError";
    } catch (const FileError& error) {
        EXPECT_EQ(error.kind(), kind);
        EXPECT_NE(std::string(error.what()).find("音声ファイル"), std::string::npos);
    }
}

} // namespace

TEST(FileAudioSource, FramesTheFileWithRunningTimestamps)
{
    TempDir dir;
    const auto samples = ramp(4000);
    writeAudio(dir / "a.wav", SF_FORMAT_WAV | SF_FORMAT_FLOAT, 16000, 1, samples);

    FileAudioSource source(dir / "a.wav", 1600);
    const auto frames = drain(source.start());
    ASSERT_EQ(frames.size(), 3u);
    EXPECT_EQ(frames[0].samples.size(), 1600u);
    EXPECT_EQ(frames[1].samples.size(), 1600u);
    EXPECT_EQ(frames[2].samples.size(), 800u);
    EXPECT_DOUBLE_EQ(frames[0].timestamp, 0.0);
    EXPECT_DOUBLE_EQ(frames[1].timestamp, 0.1);
    EXPECT_DOUBLE_EQ(frames[2].timestamp, 0.2);
    for (const auto& frame : frames)
        EXPECT_EQ(frame.sampleRate, 16000.0);
    // A mono file's samples come through unchanged.
    EXPECT_EQ(joined(frames), samples);
    EXPECT_FALSE(source.isContinuous());

    // An exact multiple leaves no empty trailing frame; a short file gives one frame.
    writeAudio(dir / "b.wav", SF_FORMAT_WAV | SF_FORMAT_FLOAT, 16000, 1, ramp(3200));
    const auto exact = drain(FileAudioSource(dir / "b.wav", 1600).start());
    ASSERT_EQ(exact.size(), 2u);
    EXPECT_EQ(exact[1].samples.size(), 1600u);
    writeAudio(dir / "c.wav", SF_FORMAT_WAV | SF_FORMAT_FLOAT, 16000, 1, ramp(100));
    const auto shortFile = drain(FileAudioSource(dir / "c.wav", 1600).start());
    ASSERT_EQ(shortFile.size(), 1u);
    EXPECT_EQ(shortFile[0].samples.size(), 100u);
    EXPECT_EQ(shortFile[0].timestamp, 0.0);
}

TEST(FileAudioSource, StereoBecomesTheMeanOfBothChannels)
{
    TempDir dir;
    std::vector<float> stereo;
    for (int i = 0; i < 500; ++i) {
        stereo.push_back(0.5f);
        stereo.push_back(static_cast<float>(i) / 1000.0f);
    }
    writeAudio(dir / "s.wav", SF_FORMAT_WAV | SF_FORMAT_FLOAT, 44100, 2, stereo);
    const auto frames = drain(FileAudioSource(dir / "s.wav", 1600).start());
    ASSERT_EQ(frames.size(), 1u);
    ASSERT_EQ(frames[0].samples.size(), 500u);
    for (int i = 0; i < 500; ++i)
        EXPECT_FLOAT_EQ(frames[0].samples[static_cast<std::size_t>(i)],
                        (0.5f + static_cast<float>(i) / 1000.0f) * 0.5f);
    EXPECT_EQ(frames[0].sampleRate, 44100.0);
}

TEST(FileAudioSource, DecodesTheCompressedFormatsDebianReads)
{
    TempDir dir;
    std::vector<float> tone(48000);
    for (std::size_t i = 0; i < tone.size(); ++i)
        tone[i] = 0.5f * static_cast<float>(std::sin(2 * std::numbers::pi * 440.0 * static_cast<double>(i) / 48000));
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
        writeAudio(dir / f.name, f.format, 48000, 1, tone);
        const auto samples = joined(drain(FileAudioSource(dir / f.name, 1600).start()));
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
    TempDir dir;
    std::vector<float> stereo = ramp(2 * 10007);
    writeAudio(dir / "long.wav", SF_FORMAT_WAV | SF_FORMAT_FLOAT, 16000, 2, stereo);
    const auto whole = std::get<tc::DecodedAudio>(tc::SndfileDecoder().decode(dir / "long.wav"));
    const auto pieces = std::get<tc::DecodedAudio>(tc::SndfileDecoder(7).decode(dir / "long.wav"));
    EXPECT_EQ(whole.frameCount(), 10007u);
    EXPECT_EQ(pieces.channels, whole.channels);
    EXPECT_EQ(pieces.sampleRate, 16000.0);
    EXPECT_EQ(drain(FileAudioSource(dir / "long.wav", 1600, tc::SndfileDecoder(7)).start()).size(), 7u);
}

TEST(FileAudioSource, BadFilesThrowTheRightError)
{
    TempDir dir;
    expectFileError([&] { FileAudioSource(dir / "missing.wav", 1600).start(); }, FileError::Kind::cannotOpen);
    {
        std::ofstream text(dir / "notes.wav");
        text << "these are not samples";
    }
    expectFileError([&] { FileAudioSource(dir / "notes.wav", 1600).start(); }, FileError::Kind::cannotOpen);
    writeAudio(dir / "empty.wav", SF_FORMAT_WAV | SF_FORMAT_FLOAT, 16000, 1, {});
    expectFileError([&] { FileAudioSource(dir / "empty.wav", 1600).start(); }, FileError::Kind::decodeFailed);
}

TEST(FileAudioSource, StopChangesNothing)
{
    TempDir dir;
    writeAudio(dir / "a.wav", SF_FORMAT_WAV | SF_FORMAT_FLOAT, 16000, 1, ramp(4000));
    FileAudioSource source(dir / "a.wav", 1600);
    source.stop();
    auto stream = source.start();
    ASSERT_TRUE(stream->next().has_value());
    source.stop();
    EXPECT_EQ(drain(stream).size(), 2u);
    source.stop();
    EXPECT_EQ(drain(source.start()).size(), 3u);
}

TEST(MonoMixdown, MeansChannelsAndCopiesMono)
{
    const float left[] = {1.0f, 0.5f, -1.0f};
    const float right[] = {0.0f, 0.5f, 1.0f};
    const float third[] = {0.5f, 0.5f, 0.5f};
    const float* stereo[] = {left, right};
    EXPECT_EQ(tc::monoSamples({stereo, 2, 3}), (std::vector<float>{0.5f, 0.5f, 0.0f}));
    const float* mono[] = {left};
    EXPECT_EQ(tc::monoSamples({mono, 1, 3}), (std::vector<float>{1.0f, 0.5f, -1.0f}));
    const float* three[] = {left, right, third};
    const float k = 1.0f / 3.0f;
    EXPECT_EQ(tc::monoSamples({three, 3, 1}), (std::vector<float>{(1.0f + 0.0f + 0.5f) * k}));
    EXPECT_EQ(tc::monoSamples({stereo, 0, 3}), (std::vector<float>{0.0f, 0.0f, 0.0f}));
    EXPECT_TRUE(tc::monoSamples({nullptr, 2, 3}).empty());
    EXPECT_TRUE(tc::monoSamples({stereo, 2, 0}).empty());
}
