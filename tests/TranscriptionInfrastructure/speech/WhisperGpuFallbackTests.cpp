#include "TranscriptionInfrastructure/speech/WhisperContext.h"
#include "TranscriptionInfrastructure/speech/WhisperSpeechRecognitionEngine.h"
#include "support/RealSpeechModel.h"
#include "support/SpeechSamples.h"
#include "support/TestPaths.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace tc {
namespace {

TEST(WhisperGpuFallback, WithoutAVulkanDriverTheModelLoadsAndReadsOnTheProcessor)
{
    // A loader that finds no driver at all, as on a machine without one; the software device would be taken if the
    // loader found it.
    setenv("VK_ICD_FILENAMES", "/nonexistent/no_icd.json", 1);
    setenv("VK_DRIVER_FILES", "/nonexistent/no_icd.json", 1);
    setenv("GGML_VK_VISIBLE_DEVICES", "0", 1);
    unsetenv("TC_SPEECH_DEVICE");
    EXPECT_FALSE(WhisperContext::gpuDevice().onGpu());
    EXPECT_EQ(WhisperSpeechRecognitionEngine::deviceLabel(), "CPU");

    const auto model = test::realSpeechModel();
    if (!model) return;
    EXPECT_FALSE(model->device().onGpu());
    // Nothing to tell: the processor is where it was meant to run.
    EXPECT_FALSE(model->takeNotice());
    EXPECT_EQ(model->processorFallback(), model);
    const auto audio = test::testSentence("s01");
    const auto decoder = model->makeDecoder("ja");
    const auto read = decoder->decode(audio, "", UtteranceDecoder::Pass::interim, [] { return false; });
    ASSERT_TRUE(read);
    EXPECT_NE(read->text.find("おはよう"), std::string::npos) << read->text;
    EXPECT_FALSE(decoder->takeNotice());
}

} // namespace
} // namespace tc
