#include "TranscriptionCorvane/HeadlessQuestion.h"

#include "TranscriptionApplication/ConversationResponder.h"
#include "TranscriptionDomain/ConversationQuestionContext.h"
#include "TranscriptionDomain/Utf8.h"
#include "TranscriptionInfrastructure/CompositionRoot.h"
#include "TranscriptionInfrastructure/files/FileReader.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <iostream>
#include <optional>
#include <unordered_map>

namespace tc {

namespace {

// As many lines as the window hands to the responder.
constexpr std::int64_t kMaxLines = 80;

// "- `12:34:56` text", as the Markdown export writes each line.
std::optional<std::string_view> exportedLine(std::string_view line)
{
    if (!line.starts_with("- `") || line.size() < 13 || line[11] != '`' || line[12] != ' ') return std::nullopt;
    const auto stamp = line.substr(3, 8);
    for (std::size_t i = 0; i < stamp.size(); ++i) {
        const bool colon = i == 2 || i == 5;
        if (colon ? stamp[i] != ':' : (stamp[i] < '0' || stamp[i] > '9')) return std::nullopt;
    }
    return line.substr(13);
}

} // namespace

std::vector<HeadlessQuestion::Line> HeadlessQuestion::transcriptLines(const std::string& fileText)
{
    std::vector<Line> plain;
    std::vector<Line> exported;
    bool markdown = false;
    std::size_t start = 0;
    for (std::int64_t number = 1; start < fileText.size() || start == 0; ++number) {
        auto end = fileText.find('\n', start);
        if (end == std::string::npos) end = fileText.size();
        std::string_view line(fileText.data() + start, end - start);
        if (line.ends_with('\r')) line.remove_suffix(1);
        if (number == 1 && line == "# 文字起こし") markdown = true;
        if (const auto text = exportedLine(line)) exported.push_back(Line{std::string(*text), number});
        plain.push_back(Line{std::string(line), number});
        start = end + 1;
        if (end == fileText.size()) break;
    }
    return markdown ? exported : plain;
}

int HeadlessQuestion::run(const Options& options)
{
    const CompositionRoot root(EngineConfig{}, options.languageModel.empty()
                                                   ? nullptr
                                                   : CompositionRoot::makeLanguageModel(options.languageModel));
    const auto responder = root.makeConversationResponder();
    return run(options, *responder, std::cout, std::cerr);
}

int HeadlessQuestion::run(const Options& options, ConversationResponder& responder, std::ostream& out,
                          std::ostream& err)
{
    const auto contents = FileReader::readAll(options.transcript);
    if (!contents) {
        err << "エラー: 文字起こしファイル " << options.transcript.string()
            << " を読み込めません。ファイルがあるか、読み取りが許可されているかを確かめてください。\n";
        return kExitFailure;
    }
    const auto lines = transcriptLines(Utf8::sanitized(*contents));
    std::vector<FinalizedLine> finalized;
    std::unordered_map<Uuid, std::int64_t> fileLineOf;
    finalized.reserve(lines.size());
    for (const auto& line : lines) {
        finalized.push_back(FinalizedLine{Uuid::random(), line.text, 0});
        fileLineOf.emplace(finalized.back().id, line.fileLine);
    }
    const auto excerpt = ConversationQuestionContext::excerpt(finalized, kMaxLines);

    ConversationAnswer answer;
    try {
        answer = responder.answer(options.question, excerpt);
    } catch (const std::exception& error) {
        err << "エラー: うまく答えられませんでした（" << error.what() << "）。もう一度お試しください。\n";
        return kExitFailure;
    }
    std::vector<std::int64_t> sources;
    for (const auto& id : answer.sourceLineIDs)
        sources.push_back(fileLineOf.at(id));

    if (options.json) {
        const nlohmann::ordered_json reply{{"answer", answer.text}, {"sources", sources}};
        out << reply.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) << '\n';
        return 0;
    }
    out << answer.text << '\n';
    if (!sources.empty()) {
        out << "根拠:";
        for (const auto number : sources)
            out << ' ' << number << "行目";
        out << '\n';
    }
    return 0;
}

} // namespace tc
