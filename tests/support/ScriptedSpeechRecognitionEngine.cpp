#include "support/ScriptedSpeechRecognitionEngine.h"

namespace tc::test {

ScriptedRecognizer::~ScriptedRecognizer()
{
    if (m_input) m_input->cancel();
}

void ScriptedRecognizer::start(Stream<AnalyzerBuffer> input)
{
    if (startError) std::rethrow_exception(startError);
    m_lock.change([&] {
        m_started = true;
        m_input = input;
        m_pump = std::jthread([this, input] {
            while (auto buffer = input->next()) {
                m_lock.change([&] {
                    m_frames += buffer->samples.size() / std::max<std::uint32_t>(1, buffer->format.channelCount);
                    m_buffers.push_back(std::move(*buffer));
                });
            }
            m_lock.change([] {});
        });
    });
}

void ScriptedRecognizer::finalizeAndFinishThroughEndOfInput()
{
    // Like a real recognizer, every buffer is taken before the closing results.
    m_lock.waitThen(
        {}, [&] { return m_input == nullptr || m_input->isEnded(); }, [] {});
    m_lock.change([&] { m_finalized = true; });
    if (m_pump.joinable()) m_pump.join();
    for (const auto& result : closingResults)
        m_results->yield(result);
    m_results->finish();
}

void ScriptedRecognizer::cancel()
{
    const auto input = m_lock.change([&] {
        m_cancelled = true;
        return m_input;
    });
    if (input) input->cancel();
    m_results->cancel();
}

std::shared_ptr<StreamingRecognizer> ScriptedSpeechRecognitionEngine::makeRecognizer(const RecognizerModule& module)
{
    auto recognizer = makeScripted();
    m_lock.change([&] {
        m_recognizers.push_back(recognizer);
        m_modules.push_back(module);
    });
    return recognizer;
}

std::shared_ptr<ScriptedRecognizer>
ScriptedSpeechRecognitionEngine::waitForRecognizer(std::chrono::milliseconds timeout)
{
    if (!m_lock.waitFor(timeout, [&] { return !m_recognizers.empty(); })) return nullptr;
    auto recognizer = recognizers().front();
    recognizer->waitForStart(timeout);
    return recognizer;
}

} // namespace tc::test
