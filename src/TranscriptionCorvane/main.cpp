#include "TranscriptionCorvane/TranscriptionCorvaneApp.h"

int main(int argc, char** argv)
{
    return tc::TranscriptionCorvaneApp::main(argc, argv);
}
