#include "TranscriptionInfrastructure/audio/SoxrResampler.h"

#include <cmath>
#include <soxr.h>

namespace tc {

void SoxrResampler::Deleter::operator()(soxr* handle) const
{
    soxr_delete(handle);
}

SoxrResampler::SoxrResampler(std::unique_ptr<soxr, Deleter> handle, double inputRate, double outputRate)
    : m_handle(std::move(handle)), m_inputRate(inputRate), m_outputRate(outputRate)
{}

std::optional<SoxrResampler> SoxrResampler::make(double inputRate, double outputRate)
{
    if (!std::isfinite(inputRate) || !std::isfinite(outputRate) || inputRate <= 0 || outputRate <= 0)
        return std::nullopt;
    soxr_error_t error = nullptr;
    const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT32_I, SOXR_FLOAT32_I);
    const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_HQ, 0);
    soxr_t handle = soxr_create(inputRate, outputRate, 1, &error, &io, &quality, nullptr);
    if (error || !handle) {
        if (handle) soxr_delete(handle);
        return std::nullopt;
    }
    return SoxrResampler(std::unique_ptr<soxr, Deleter>(handle), inputRate, outputRate);
}

std::optional<std::size_t> SoxrResampler::process(const float* in, std::size_t frames, float* out, std::size_t capacity)
{
    std::size_t consumed = 0;
    std::size_t written = 0;
    // The capacity the caller computes leaves headroom for the whole block; loop anyway so no input is lost
    // while there is room.
    while (consumed < frames) {
        std::size_t inDone = 0;
        std::size_t outDone = 0;
        if (soxr_process(m_handle.get(), in + consumed, frames - consumed, &inDone, out + written, capacity - written,
                         &outDone))
            return std::nullopt;
        consumed += inDone;
        written += outDone;
        if (inDone == 0 && (outDone == 0 || written == capacity)) break;
    }
    return written;
}

std::optional<std::size_t> SoxrResampler::flush(float* out, std::size_t capacity)
{
    std::size_t written = 0;
    while (written < capacity) {
        std::size_t outDone = 0;
        if (soxr_process(m_handle.get(), nullptr, 0, nullptr, out + written, capacity - written, &outDone))
            return std::nullopt;
        if (outDone == 0) break;
        written += outDone;
    }
    return written;
}

} // namespace tc
