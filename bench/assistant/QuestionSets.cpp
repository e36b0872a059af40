#include "QuestionSets.h"

#include "TranscriptionDomain/FinalizedLine.h"

#include <nlohmann/json.hpp>

#include <fstream>

namespace tc::bench {

namespace {

std::vector<FinalizedLine> readLines(const std::filesystem::path& file)
{
    std::ifstream stream(file);
    std::vector<FinalizedLine> lines;
    for (std::string text; std::getline(stream, text);)
        lines.push_back(FinalizedLine{Uuid::random(), text, 0});
    return lines;
}

std::vector<Question> readQuestions(const std::filesystem::path& file)
{
    std::vector<Question> read;
    for (const auto& item : nlohmann::json::parse(std::ifstream(file)))
        read.push_back(Question{item.at("transcript"), item.at("question"), item.at("expected")});
    return read;
}

} // namespace

QuestionSets readQuestionSets(const std::filesystem::path& material)
{
    QuestionSets sets;
    for (const char* name : {"meeting", "casual", "lecture", "trip", "garden", "clinic", "school", "incident"})
        sets.transcripts[name] = ConversationExcerpt(readLines(material / (std::string(name) + ".txt")));
    sets.questions = readQuestions(material / "questions.json");
    sets.fresh = readQuestions(material / "questions-fresh.json");
    sets.garden = readQuestions(material / "questions-garden.json");
    sets.clinic = readQuestions(material / "questions-clinic.json");
    sets.heldout2 = readQuestions(material / "questions-heldout2.json");
    return sets;
}

} // namespace tc::bench
