#include "TranscriptionInfrastructure/speech/ProcessorLoadGauge.h"

#include <algorithm>
#include <cmath>
#include <fstream>
#include <sstream>
#include <string>
#include <utility>

namespace tc {

std::optional<ProcessorLoadGauge::Ticks> ProcessorLoadGauge::parse(std::string_view statLine)
{
    // cpu  user nice system idle iowait irq softirq steal guest guest_nice; guest time is inside user already.
    std::istringstream in{std::string(statLine)};
    std::string label;
    if (!(in >> label) || label != "cpu") return std::nullopt;
    std::uint64_t fields[8] = {};
    int count = 0;
    while (count < 8 && in >> fields[count])
        ++count;
    if (count < 4) return std::nullopt;
    Ticks ticks;
    for (int i = 0; i < count; ++i)
        ticks.total += fields[i];
    // Idle and waiting for the disk leave the core free (fields not given read 0).
    ticks.busy = ticks.total - fields[3] - fields[4];
    return ticks;
}

std::optional<ProcessorLoadGauge::Ticks> ProcessorLoadGauge::read(const std::filesystem::path& stat)
{
    std::ifstream in(stat);
    std::string line;
    if (!std::getline(in, line)) return std::nullopt;
    return parse(line);
}

void ProcessorLoadGauge::decodingEnded(std::optional<Ticks> now)
{
    std::lock_guard lock(m_mutex);
    m_pauseBegan = now;
}

void ProcessorLoadGauge::decodingBegins(std::optional<Ticks> now)
{
    std::lock_guard lock(m_mutex);
    const auto began = std::exchange(m_pauseBegan, std::nullopt);
    if (!began || !now || now->total <= began->total || now->busy < began->busy) return;
    m_busy = m_busy / 2 + static_cast<double>(now->busy - began->busy);
    m_total = m_total / 2 + static_cast<double>(now->total - began->total);
}

double ProcessorLoadGauge::busyCores() const
{
    std::lock_guard lock(m_mutex);
    return m_total > 0 ? m_cores * m_busy / m_total : 0.0;
}

int ProcessorLoadGauge::threadsFor(int most) const
{
    // A thread needs a core at least half free: with less, its partner's spin loses more than the thread gains.
    const double freeCores = m_cores - busyCores();
    return std::clamp(static_cast<int>(std::floor(freeCores + 0.5)), 1, std::max(1, most));
}

} // namespace tc
