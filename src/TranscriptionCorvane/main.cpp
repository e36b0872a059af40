#include "TranscriptionCorvane/HeadlessTranscription.h"
#include "TranscriptionCorvane/TranscriptionCorvaneApp.h"

int main(int argc, char** argv)
{
    // --transcribe FILE runs without a display; anything else opens the window.
    if (const auto status = tc::HeadlessTranscription::runIfRequested(argc, argv)) return *status;
    return tc::TranscriptionCorvaneApp::main(argc, argv);
}
