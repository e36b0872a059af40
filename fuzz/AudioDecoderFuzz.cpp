// An audio file given to --transcribe (or piped in as "-"), decoded from memory as standard input is.
#include "FuzzInput.h"

#include "TranscriptionInfrastructure/audio/SndfileDecoder.h"

#include <span>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    // Small reads, so that a file of a few bytes still goes through more than one.
    const tc::SndfileDecoder decoder(4096);
    (void)decoder.decode(std::span<const std::byte>(reinterpret_cast<const std::byte*>(data), size));
    return 0;
}
