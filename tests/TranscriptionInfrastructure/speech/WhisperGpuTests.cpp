#include "TranscriptionInfrastructure/speech/ModelSpeedTrial.h"
#include "TranscriptionInfrastructure/speech/WhisperContext.h"
#include "support/RealSpeechModel.h"
#include "support/SpeechSamples.h"
#include "support/TemporaryDirectory.h"
#include "support/TestPaths.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

namespace tc {
namespace {

// Where the Vulkan loader finds its drivers on Debian.
bool vulkanDriverInstalled()
{
    std::error_code error;
    return std::filesystem::exists("/usr/share/vulkan/icd.d/lvp_icd.x86_64.json", error) ||
           std::filesystem::exists("/usr/share/vulkan/icd.d/lvp_icd.aarch64.json", error);
}

TEST(WhisperGpu, TheSoftwareVulkanDeviceReadsARecordingAsTheProcessorDoes)
{
    // Mesa's software device counts as a processor, which the engine passes over unless it is named.
    setenv("GGML_VK_VISIBLE_DEVICES", "0", 1);
    unsetenv("TC_SPEECH_DEVICE");
    if (!WhisperContext::gpuBackendBuilt())
        GTEST_SKIP() << "the speech engine was built without Vulkan: install libvulkan-dev glslc spirv-headers "
                        "glslang-tools and run scripts/setup";
    if (!vulkanDriverInstalled()) GTEST_SKIP() << "no Vulkan driver to test on: install mesa-vulkan-drivers";
    const auto gpu = WhisperContext::gpuDevice();
    ASSERT_TRUE(gpu.onGpu()) << "Mesa's software Vulkan device did not open";
    EXPECT_EQ(gpu.label(), "GPU (" + gpu.gpu + ")");

    // The model through a folder of the test's own, whose speed record already has figures for this device:
    // timing it on the software device would take many minutes.
    const auto real = test::realSpeechModelFile();
    if (!real) return;
    const test::TemporaryDirectory folder;
    const auto file = folder.path() / real->filename();
    std::filesystem::create_symlink(*real, file);
    double now = 0;
    WhisperContext::speedTrial(file, gpu).measure([&](double seconds, int) { now += seconds / 10; },
                                                  [&] { return now; });

    const auto onGpu = WhisperContext::load(file, 0, EncoderAttention::flash).value();
    EXPECT_EQ(onGpu->device(), gpu);
    EXPECT_FALSE(onGpu->takeNotice());
    const auto onProcessor =
        WhisperContext::load(file, 0, EncoderAttention::flash, DevicePreference::processor).value();
    EXPECT_FALSE(onProcessor->device().onGpu());

    // A short sentence: the software device compiles every pipeline on first use, which takes a minute or two.
    const auto audio = test::readSpeechFile(test::dataDir() / "speech" / "utterances" / "s03.flac");
    const auto read = [&](WhisperContext& context) {
        return context.makeDecoder("ja")->decode(audio, "", UtteranceDecoder::Pass::interim, [] { return false; });
    };
    const auto byGpu = read(*onGpu);
    const auto byProcessor = read(*onProcessor);
    ASSERT_TRUE(byGpu && byProcessor);
    EXPECT_FALSE(byProcessor->text.empty());
    EXPECT_EQ(byGpu->text, byProcessor->text);
}

} // namespace
} // namespace tc
