#include "TranscriptionCorvane/HeadlessTranscription.h"

#include "TranscriptionApplication/RunTranscriptionSession.h"
#include "TranscriptionCorvane/ConsoleTranscriptSink.h"
#include "TranscriptionInfrastructure/CompositionRoot.h"

#include <unistd.h>

#include <iostream>

namespace tc {

namespace {

constexpr const char* kUsage = "使い方: transcription-corvane --transcribe 音声ファイル [--model モデル名]";

std::optional<std::string> valueOf(const std::vector<std::string>& arguments, std::size_t& i, const std::string& flag)
{
    const std::string& argument = arguments[i];
    if (argument.starts_with(flag + "=")) return argument.substr(flag.size() + 1);
    if (argument != flag) return std::nullopt;
    if (i + 1 >= arguments.size() || arguments[i + 1].starts_with("--")) return std::string{};
    return arguments[++i];
}

} // namespace

HeadlessTranscription::Parsed HeadlessTranscription::parseArguments(const std::vector<std::string>& arguments)
{
    std::optional<std::string> file;
    std::optional<std::string> model;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        if (auto value = valueOf(arguments, i, "--transcribe")) {
            if (value->empty())
                return UsageError{std::string("--transcribe には音声ファイルを指定してください。\n") + kUsage};
            file = *value;
        } else if (auto name = valueOf(arguments, i, "--model")) {
            if (name->empty())
                return UsageError{std::string("--model にはモデル名（例: base）を指定してください。\n") + kUsage};
            model = *name;
        }
    }
    if (!file && !model) return NotRequested{};
    if (!file) return UsageError{std::string("--model は --transcribe と一緒に指定してください。\n") + kUsage};
    return Options{*file, model.value_or(std::string{})};
}

std::optional<int> HeadlessTranscription::runIfRequested(int argc, char** argv)
{
    std::vector<std::string> arguments(argv + std::min(argc, 1), argv + argc);
    const Parsed parsed = parseArguments(arguments);
    if (std::holds_alternative<NotRequested>(parsed)) return std::nullopt;
    if (const auto* usage = std::get_if<UsageError>(&parsed)) {
        std::cerr << "エラー: " << usage->message << '\n';
        return kExitUsage;
    }
    return run(std::get<Options>(parsed), std::cout, std::cerr, ::isatty(STDOUT_FILENO) == 1);
}

int HeadlessTranscription::run(const Options& options, std::ostream& out, std::ostream& err, bool interactive)
{
    const CompositionRoot root(EngineConfig{EngineConfig::TranscriberKind::speechAnalyzer, "ja-JP"}, options.model);
    auto sink = std::make_shared<ConsoleTranscriptSink>(out, err, interactive);
    RunTranscriptionSession session(root.makeFileAudioSource(options.file), root.makeTranscriber(), sink);
    try {
        session.run();
    } catch (...) {
        // The runner has already reported the failure through the sink.
        sink->finish();
        if (!sink->sawFailure()) err << "エラー: 文字起こしに失敗しました。\n";
        return kExitFailure;
    }
    sink->finish();
    err << "文字起こしが終わりました（" << sink->lineCount() << " 行）。\n";
    return 0;
}

} // namespace tc
