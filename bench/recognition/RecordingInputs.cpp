#include "recognition/RecordingInputs.h"

#include "TranscriptionInfrastructure/audio/SndfileDecoder.h"

#include <algorithm>
#include <cstdlib>
#include <iomanip>
#include <iostream>
#include <sstream>

namespace tc::bench {

std::vector<float> readRecording(const std::filesystem::path& file, double maxSeconds)
{
    auto decoded = tc::SndfileDecoder().decode(file);
    if (!decoded) {
        std::cerr << "cannot read " << file << "; run scripts/make-eval-set\n";
        std::exit(1);
    }
    auto audio = std::move(decoded->channels.front());
    if (maxSeconds < static_cast<double>(audio.size()) / 16000.0) {
        audio.resize(static_cast<std::size_t>(maxSeconds * 16000.0));
        audio.shrink_to_fit();
    }
    return audio;
}

std::string figure(const nlohmann::json& value, int digits)
{
    if (!value.is_number()) return "–";
    std::ostringstream text;
    text << std::fixed << std::setprecision(digits) << value.get<double>();
    return text.str();
}

std::vector<std::string> commaList(const std::string& text)
{
    std::vector<std::string> items;
    std::istringstream in(text);
    for (std::string item; std::getline(in, item, ',');)
        if (!item.empty()) items.push_back(item);
    return items;
}

} // namespace tc::bench
