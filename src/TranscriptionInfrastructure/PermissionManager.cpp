#include "TranscriptionInfrastructure/PermissionManager.h"

#include "TranscriptionInfrastructure/ConsentStore.h"

#include <pulse/pulseaudio.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

namespace tc {

namespace {

struct MainloopDeleter {
    void operator()(pa_mainloop* loop) const { pa_mainloop_free(loop); }
};
struct ContextDeleter {
    void operator()(pa_context* context) const
    {
        pa_context_disconnect(context);
        pa_context_unref(context);
    }
};

struct ProbeState {
    bool serverInfoDone = false;
    bool sourcesDone = false;
    std::string defaultSink;
    bool hasCaptureSource = false;
    std::vector<std::string> monitoredSinks;
};

// One short-lived connection; PA_CONTEXT_NOAUTOSPAWN so a query never starts a server of its own.
PermissionManager::SoundServerFacts querySessionSoundServer()
{
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::seconds(2);
    PermissionManager::SoundServerFacts facts;

    std::unique_ptr<pa_mainloop, MainloopDeleter> loop(pa_mainloop_new());
    if (!loop) return facts;
    std::unique_ptr<pa_context, ContextDeleter> context(
        pa_context_new(pa_mainloop_get_api(loop.get()), "transcription-corvane permission check"));
    if (!context) return facts;
    if (pa_context_connect(context.get(), nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) return facts;

    // Each round waits at most 100 ms in poll(); the deadline bounds the whole check.
    auto runUntil = [&](auto done) {
        while (!done()) {
            if (Clock::now() > deadline) return false;
            if (pa_mainloop_prepare(loop.get(), 100'000) < 0 || pa_mainloop_poll(loop.get()) < 0 ||
                pa_mainloop_dispatch(loop.get()) < 0)
                return false;
        }
        return true;
    };

    bool failed = false;
    const bool ready = runUntil([&] {
        const auto state = pa_context_get_state(context.get());
        if (!PA_CONTEXT_IS_GOOD(state)) failed = true;
        return state == PA_CONTEXT_READY || failed;
    });
    if (!ready || failed) return facts;
    facts.reachable = true;

    ProbeState probe;
    pa_operation* info = pa_context_get_server_info(
        context.get(),
        [](pa_context*, const pa_server_info* server, void* data) {
            auto* state = static_cast<ProbeState*>(data);
            if (server && server->default_sink_name) state->defaultSink = server->default_sink_name;
            state->serverInfoDone = true;
        },
        &probe);
    pa_operation* sources = pa_context_get_source_info_list(
        context.get(),
        [](pa_context*, const pa_source_info* source, int eol, void* data) {
            auto* state = static_cast<ProbeState*>(data);
            if (eol != 0) {
                state->sourcesDone = true;
                return;
            }
            if (!source) return;
            if (source->monitor_of_sink == PA_INVALID_INDEX) {
                state->hasCaptureSource = true;
            } else if (source->monitor_of_sink_name) {
                state->monitoredSinks.emplace_back(source->monitor_of_sink_name);
            }
        },
        &probe);
    runUntil([&] { return probe.serverInfoDone && probe.sourcesDone; });
    if (info) pa_operation_unref(info);
    if (sources) pa_operation_unref(sources);

    facts.hasCaptureSource = probe.hasCaptureSource;
    for (const auto& sink : probe.monitoredSinks)
        if (!probe.defaultSink.empty() && sink == probe.defaultSink) facts.hasDefaultSinkMonitor = true;
    return facts;
}

PermissionManager::Status statusFromConsent(Consent consent)
{
    switch (consent) {
    case Consent::granted: return PermissionManager::Status::granted;
    case Consent::denied: return PermissionManager::Status::denied;
    case Consent::undetermined: return PermissionManager::Status::undetermined;
    }
    return PermissionManager::Status::denied;
}

} // namespace

PermissionManager::PermissionManager() : PermissionManager(std::make_shared<ConsentStore>(), &querySessionSoundServer)
{}

PermissionManager::PermissionManager(std::shared_ptr<ConsentStore> consent, SoundServerCheck check)
    : m_consent(std::move(consent)), m_check(std::move(check))
{}

PermissionManager::~PermissionManager() = default;

PermissionManager::Status PermissionManager::microphoneStatus()
{
    const auto consent = m_consent->consent(ConsentTopic::microphone);
    if (consent != Consent::granted) return statusFromConsent(consent);
    const auto facts = m_check();
    if (!facts.reachable) return Status::restricted;
    // A server without any input device: nothing the app could capture until one is plugged in.
    return facts.hasCaptureSource ? Status::granted : Status::denied;
}

bool PermissionManager::requestMicrophone()
{
    m_consent->record(ConsentTopic::microphone, Consent::granted);
    return microphoneStatus() == Status::granted;
}

PermissionManager::Status PermissionManager::speechRecognitionStatus()
{
    return statusFromConsent(m_consent->consent(ConsentTopic::speechRecognition));
}

bool PermissionManager::requestSpeechRecognition()
{
    m_consent->record(ConsentTopic::speechRecognition, Consent::granted);
    return speechRecognitionStatus() == Status::granted;
}

bool PermissionManager::screenRecordingGranted()
{
    if (m_consent->consent(ConsentTopic::screenRecording) != Consent::granted) return false;
    return systemAudioAvailable();
}

bool PermissionManager::requestScreenRecording()
{
    m_consent->record(ConsentTopic::screenRecording, Consent::granted);
    return screenRecordingGranted();
}

bool PermissionManager::systemAudioAvailable()
{
    const auto facts = m_check();
    return facts.reachable && facts.hasDefaultSinkMonitor;
}

} // namespace tc
