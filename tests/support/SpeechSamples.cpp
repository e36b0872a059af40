#include "support/SpeechSamples.h"

#include "support/TestPaths.h"

#include <gtest/gtest.h>
#include <sndfile.h>

#include <fstream>
#include <sstream>

namespace tc::test {

std::vector<float> readSpeechFile(const std::filesystem::path& file, double* sampleRate)
{
    SF_INFO info{};
    SNDFILE* handle = sf_open(file.c_str(), SFM_READ, &info);
    if (!handle) {
        ADD_FAILURE() << "cannot read " << file;
        return {};
    }
    std::vector<float> interleaved(static_cast<std::size_t>(info.frames * info.channels));
    const sf_count_t read = sf_readf_float(handle, interleaved.data(), info.frames);
    sf_close(handle);
    std::vector<float> mono(static_cast<std::size_t>(read));
    for (std::size_t i = 0; i < mono.size(); ++i)
        mono[i] = interleaved[i * static_cast<std::size_t>(info.channels)];
    if (sampleRate) *sampleRate = info.samplerate;
    return mono;
}

std::vector<SpeechTurn> conversationTurns()
{
    std::ifstream in(dataDir() / "speech" / "conversation.tsv");
    std::vector<SpeechTurn> turns;
    std::string line;
    std::getline(in, line);
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        SpeechTurn turn;
        std::string start;
        std::string end;
        std::getline(fields, turn.id, '\t');
        std::getline(fields, start, '\t');
        std::getline(fields, end, '\t');
        std::getline(fields, turn.text);
        if (turn.id.empty()) continue;
        turn.start = std::stod(start);
        turn.end = std::stod(end);
        turns.push_back(turn);
    }
    return turns;
}

std::string sentenceText(const std::string& id)
{
    std::ifstream in(dataDir() / "speech" / "sentences.tsv");
    std::string line;
    while (std::getline(in, line)) {
        const auto tab = line.find('\t');
        if (tab != std::string::npos && line.substr(0, tab) == id) return line.substr(tab + 1);
    }
    ADD_FAILURE() << "no sentence " << id;
    return {};
}

std::vector<float> silence(double seconds)
{
    return std::vector<float>(static_cast<std::size_t>(seconds * 16000), 0.0F);
}

} // namespace tc::test
