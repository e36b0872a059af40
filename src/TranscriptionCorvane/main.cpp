#include "TranscriptionCorvane/HeadlessQuestion.h"
#include "TranscriptionCorvane/HeadlessTranscription.h"
#include "TranscriptionCorvane/TranscriptionCorvaneApp.h"
#include "TranscriptionInfrastructure/settings/AppPaths.h"
#include "TranscriptionInfrastructure/speech/EngineThreads.h"

#include <iostream>
#include <string_view>

int main(int argc, char** argv)
{
    // The scripts take the application's folders from here rather than restating the rules.
    if (argc == 2 && std::string_view(argv[1]) == "--print-paths") {
        std::cout << tc::AppPaths::current().describe();
        return 0;
    }
    tc::EngineThreads::restartWithPassiveWaiting();
    // --ask and --transcribe run without a display; anything else opens the window.
    if (const auto status = tc::HeadlessQuestion::runIfRequested(argc, argv)) return *status;
    if (const auto status = tc::HeadlessTranscription::runIfRequested(argc, argv)) return *status;
    return tc::TranscriptionCorvaneApp::main(argc, argv);
}
