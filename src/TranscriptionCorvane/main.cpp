#include "TranscriptionCorvane/HeadlessQuestion.h"
#include "TranscriptionCorvane/HeadlessTranscription.h"
#include "TranscriptionCorvane/TranscriptionCorvaneApp.h"

int main(int argc, char** argv)
{
    // --ask and --transcribe run without a display; anything else opens the window.
    if (const auto status = tc::HeadlessQuestion::runIfRequested(argc, argv)) return *status;
    if (const auto status = tc::HeadlessTranscription::runIfRequested(argc, argv)) return *status;
    return tc::TranscriptionCorvaneApp::main(argc, argv);
}
