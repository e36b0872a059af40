// The files a user edits by hand: the engine configuration (JSON) and the settings with the consent records (INI).
#include "FuzzInput.h"

#include "TranscriptionInfrastructure/settings/ConsentStore.h"
#include "TranscriptionInfrastructure/settings/EngineConfig.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const auto folder = tc::fuzz::scratchFolder();
    const auto config = folder / "config.json";
    tc::fuzz::writeFile(config, data, size);
    (void)tc::EngineConfig::resolve({}, {{"TS_LOCALE", "ja-JP"}}, config);

    const auto settings = folder / "transcription-corvane.conf";
    tc::fuzz::writeFile(settings, data, size);
    const tc::ConsentStore consents(settings);
    for (auto topic : {tc::ConsentTopic::microphone, tc::ConsentTopic::speechRecognition,
                       tc::ConsentTopic::screenRecording, tc::ConsentTopic::calendar})
        (void)consents.consent(topic);
    return 0;
}
