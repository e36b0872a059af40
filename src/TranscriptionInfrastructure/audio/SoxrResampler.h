#pragma once

#include <cstddef>
#include <memory>
#include <optional>

struct soxr;

namespace tc {

// A streaming mono float resampler over libsoxr. Keeps its filter state from one block to the next, so a
// stream cut into blocks resamples exactly like the whole. Not thread-safe: one owner at a time.
class SoxrResampler {
public:
    // Nothing when the rates are not finite and positive or libsoxr refuses them.
    static std::optional<SoxrResampler> make(double inputRate, double outputRate);

    double inputRate() const { return m_inputRate; }
    double outputRate() const { return m_outputRate; }
    // Resamples the block into out (room for capacity frames); the frames written, or nothing on error.
    std::optional<std::size_t> process(const float* in, std::size_t frames, float* out, std::size_t capacity);
    // Writes what the filter still holds after the last block; the frames written, or nothing on error.
    std::optional<std::size_t> flush(float* out, std::size_t capacity);

private:
    struct Deleter {
        void operator()(soxr* handle) const;
    };

    SoxrResampler(std::unique_ptr<soxr, Deleter> handle, double inputRate, double outputRate);

    std::unique_ptr<soxr, Deleter> m_handle;
    double m_inputRate;
    double m_outputRate;
};

} // namespace tc
