// A speech model file's layout, checked before whisper.cpp may read it.
#include "FuzzInput.h"

#include "TranscriptionInfrastructure/speech/WhisperModelFileCheck.h"

#include <sstream>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::istringstream in(std::string(tc::fuzz::text(data, size)));
    (void)tc::WhisperModelFileCheck::check(in, size, true);
    return 0;
}
