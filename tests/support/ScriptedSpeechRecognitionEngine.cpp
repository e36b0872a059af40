#include "support/ScriptedSpeechRecognitionEngine.h"

namespace tc::test {

ScriptedRecognizer::~ScriptedRecognizer()
{
    if (m_input) m_input->cancel();
}

void ScriptedRecognizer::start(Stream<AnalyzerBuffer> input)
{
    if (startError) std::rethrow_exception(startError);
    std::lock_guard lock(m_mutex);
    m_started = true;
    m_input = input;
    m_pump = std::jthread([this, input] { pump(input); });
    m_changed.notify_all();
}

void ScriptedRecognizer::pump(Stream<AnalyzerBuffer> input)
{
    while (auto buffer = input->next()) {
        std::lock_guard lock(m_mutex);
        m_frames += buffer->samples.size() / std::max<std::uint32_t>(1, buffer->format.channelCount);
        m_buffers.push_back(std::move(*buffer));
        m_changed.notify_all();
    }
}

void ScriptedRecognizer::finalizeAndFinishThroughEndOfInput()
{
    {
        std::unique_lock lock(m_mutex);
        // Like a real recognizer, every buffer is taken before the closing results.
        m_changed.wait(lock, [&] { return m_input == nullptr || m_input->isEnded(); });
        m_finalized = true;
        m_changed.notify_all();
    }
    if (m_pump.joinable()) m_pump.join();
    for (const auto& result : closingResults)
        m_results->yield(result);
    m_results->finish();
}

void ScriptedRecognizer::cancel()
{
    {
        std::lock_guard lock(m_mutex);
        m_cancelled = true;
        m_changed.notify_all();
    }
    Stream<AnalyzerBuffer> input;
    {
        std::lock_guard lock(m_mutex);
        input = m_input;
    }
    if (input) input->cancel();
    m_results->cancel();
}

bool ScriptedRecognizer::waitForFrames(std::size_t frames, std::chrono::milliseconds timeout)
{
    std::unique_lock lock(m_mutex);
    return m_changed.wait_for(lock, timeout, [&] { return m_frames >= frames; });
}

bool ScriptedRecognizer::waitForFinalize(std::chrono::milliseconds timeout)
{
    std::unique_lock lock(m_mutex);
    return m_changed.wait_for(lock, timeout, [&] { return m_finalized; });
}

bool ScriptedRecognizer::waitForStart(std::chrono::milliseconds timeout)
{
    std::unique_lock lock(m_mutex);
    return m_changed.wait_for(lock, timeout, [&] { return m_started; });
}

bool ScriptedRecognizer::waitForCancel(std::chrono::milliseconds timeout)
{
    std::unique_lock lock(m_mutex);
    return m_changed.wait_for(lock, timeout, [&] { return m_cancelled; });
}

std::vector<AnalyzerBuffer> ScriptedRecognizer::buffers() const
{
    std::lock_guard lock(m_mutex);
    return m_buffers;
}

bool ScriptedRecognizer::started() const
{
    std::lock_guard lock(m_mutex);
    return m_started;
}

bool ScriptedRecognizer::cancelled() const
{
    std::lock_guard lock(m_mutex);
    return m_cancelled;
}

std::unique_ptr<AssetInstallationRequest>
ScriptedSpeechRecognitionEngine::assetInstallationRequest(const RecognizerModule&)
{
    if (assetError) std::rethrow_exception(assetError);
    return nullptr;
}

std::shared_ptr<StreamingRecognizer> ScriptedSpeechRecognitionEngine::makeRecognizer(const RecognizerModule& module)
{
    auto recognizer = makeScripted();
    std::lock_guard lock(m_mutex);
    m_recognizers.push_back(recognizer);
    m_modules.push_back(module);
    m_changed.notify_all();
    return recognizer;
}

std::vector<std::shared_ptr<ScriptedRecognizer>> ScriptedSpeechRecognitionEngine::recognizers() const
{
    std::lock_guard lock(m_mutex);
    return m_recognizers;
}

std::vector<RecognizerModule> ScriptedSpeechRecognitionEngine::modules() const
{
    std::lock_guard lock(m_mutex);
    return m_modules;
}

std::shared_ptr<ScriptedRecognizer>
ScriptedSpeechRecognitionEngine::waitForRecognizer(std::chrono::milliseconds timeout)
{
    std::unique_lock lock(m_mutex);
    if (!m_changed.wait_for(lock, timeout, [&] { return !m_recognizers.empty(); })) return nullptr;
    auto recognizer = m_recognizers.front();
    lock.unlock();
    recognizer->waitForStart(timeout);
    return recognizer;
}

} // namespace tc::test
