#include "TranscriptionCorvane/CommandLine.h"
#include "TranscriptionCorvane/HeadlessQuestion.h"
#include "TranscriptionCorvane/HeadlessTranscription.h"
#include "TranscriptionCorvane/TranscriptionCorvaneApp.h"
#include "TranscriptionInfrastructure/settings/AppPaths.h"
#include "TranscriptionInfrastructure/speech/EngineThreads.h"

#include <unistd.h>

#include <iostream>

int main(int argc, char** argv)
{
    using tc::CommandLine;
    // Read before Qt starts a window system, so the commands below need no display.
    const CommandLine::Command command = CommandLine::parse(CommandLine::fromMain(argc, argv));
    if (const auto* refused = std::get_if<CommandLine::UsageError>(&command)) {
        std::cerr << "エラー: " << refused->message << '\n' << refused->usage;
        return CommandLine::kExitUsage;
    }
    if (std::holds_alternative<CommandLine::ShowHelp>(command)) {
        std::cout << CommandLine::helpText();
        return 0;
    }
    if (std::holds_alternative<CommandLine::ShowVersion>(command)) {
        std::cout << CommandLine::versionText();
        return 0;
    }
    // The scripts take the application's folders from here rather than restating the rules.
    if (std::holds_alternative<CommandLine::PrintPaths>(command)) {
        std::cout << tc::AppPaths::current().describe();
        return 0;
    }
    tc::EngineThreads::restartWithPassiveWaiting();
    if (const auto* transcription = std::get_if<tc::HeadlessTranscription::Options>(&command))
        return tc::HeadlessTranscription::run(*transcription, std::cout, std::cerr, ::isatty(STDOUT_FILENO) == 1);
    if (const auto* question = std::get_if<tc::HeadlessQuestion::Options>(&command))
        return tc::HeadlessQuestion::run(*question);
    return tc::TranscriptionCorvaneApp::main(argc, argv);
}
