#include "TranscriptionApplication/RunTranscriptionSession.h"
#include "TranscriptionUI/ViewModelSink.h"

#include "TranscriptionUI/TranscriptionViewModel.h"

#include "TranscriptionDomain/BlankText.h"
#include "TranscriptionDomain/ConversationQuestionContext.h"
#include "TranscriptionDomain/LiveCaptionPresenter.h"
#include "TranscriptionDomain/LiveCaptionStyle.h"
#include "TranscriptionInfrastructure/TranscriptHistoryStore.h"
#include "TranscriptionUI/MainThreadHop.h"
#include "TranscriptionUI/SerialWorker.h"

#include <QDate>
#include <QDateTime>
#include <QSettings>
#include <QString>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <exception>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <utility>

namespace tc {

namespace {

constexpr auto kOptInMicKey = "optInMic";
constexpr auto kOptInSystemAudioKey = "optInSystemAudio";
constexpr auto kSystemAudioRequestedKey = "systemAudioRequested";

const std::string kSpeechNotGrantedNotice =
    "音声認識が許可されていないため、文字起こしを開始できません。マイクまたはシステム音声を許可し直してください。";
const std::string kNoSourceNotice =
    "利用可能な音声ソースがありません。マイクまたはシステム音声を許可・有効化してください。";
const std::string kSystemAudioRestartNotice =
    "システム音声を有効にするには、出力装置（スピーカーやヘッドホン）があり、サウンドサーバー（PulseAudio または "
    "PipeWire）が動いていることを確認してから、もう一度お試しください。";
const std::string kSpeechPermissionNotice = "文字起こしに必要な音声認識が許可されていません。マイクまたはシステム音声の"
                                            "「許可」ボタンから、このコンピューター上での音声認識を許可してください。";
const std::string kAskFailedText = "うまく答えられませんでした。もう一度お試しください。";
const std::string kFailurePrefix = "エラー: ";
constexpr std::chrono::milliseconds kAskNoteInterval{250};

QDateTime localDateTime(Date date)
{
    return QDateTime::fromMSecsSinceEpoch(static_cast<qint64>(std::llround(unixSecondsFromDate(date) * 1000.0)));
}

Date dateFromDateTime(const QDateTime& time)
{
    return dateFromUnixSeconds(static_cast<double>(time.toMSecsSinceEpoch()) / 1000.0);
}

Date startOfLocalDay(Date date)
{
    return dateFromDateTime(localDateTime(date).date().startOfDay());
}

std::string formatted(Date date, const char* pattern)
{
    return localDateTime(date).toString(QString::fromLatin1(pattern)).toStdString();
}

// The text without the white space that blank text ignores, at both ends. Cut only at code-point boundaries.
std::string trimmed(const std::string& text)
{
    const auto isBoundary = [&](std::size_t i) {
        return i == 0 || i == text.size() || (static_cast<unsigned char>(text[i]) & 0xC0) != 0x80;
    };
    std::size_t begin = 0;
    for (std::size_t i = 1; i <= text.size(); ++i) {
        if (!isBoundary(i)) continue;
        if (!isBlankText(std::string_view(text).substr(0, i))) break;
        begin = i;
    }
    std::size_t end = text.size();
    for (std::size_t i = text.size(); i-- > begin;) {
        if (!isBoundary(i)) continue;
        if (!isBlankText(std::string_view(text).substr(i, text.size() - i))) break;
        end = i;
    }
    return text.substr(begin, end - begin);
}

template <class T>
bool sameValue(const T& a, const T& b)
{
    return a == b;
}

// Levels are compared bit for bit, so a NaN level still counts as a change once and not forever.
bool sameValue(const std::map<AudioSourceID, float>& a, const std::map<AudioSourceID, float>& b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](const auto& x, const auto& y) {
               return x.first == y.first && std::memcmp(&x.second, &y.second, sizeof(float)) == 0;
           });
}

} // namespace

// One run: its generation, its thread and the runner it created (guarded, as the stop task reads it).
struct TranscriptionViewModel::Run {
    std::int64_t generation = 0;
    std::mutex mutex;
    std::shared_ptr<RunTranscriptionSession> session;
    std::jthread thread;

    std::shared_ptr<RunTranscriptionSession> currentSession()
    {
        std::lock_guard lock(mutex);
        return session;
    }
};

TranscriptionViewModel::TranscriptionViewModel(Dependencies dependencies, QObject* parent)
    : QObject(parent), m_deps(std::move(dependencies)), m_hop(std::make_shared<MainThreadHop>(this)),
      m_storeWorker(std::make_unique<SerialWorker>()), m_portWorker(std::make_unique<SerialWorker>()),
      m_calendarWorker(std::make_unique<SerialWorker>()), m_askWorker(std::make_unique<SerialWorker>()),
      m_stopWorker(std::make_unique<SerialWorker>())
{
    if (!m_deps.permissions || !m_deps.calendar || !m_deps.responder || !m_deps.store || !m_deps.makePipeline)
        throw std::invalid_argument("TranscriptionViewModel needs every port; see defaultDependencies()");
    if (!m_deps.now) m_deps.now = currentDate;
    m_settings = m_deps.settings;
    if (!m_settings) {
        m_ownedSettings = std::make_unique<QSettings>();
        m_settings = m_ownedSettings.get();
    }

    m_pastSessions = std::make_shared<const std::vector<TranscriptSession>>();
    m_sidebarDate = startOfLocalDay(now());
    m_currentSessionID = Uuid::random();
    m_currentSessionStartedAt = now();
    m_optInMic = m_settings->value(kOptInMicKey, false).toBool();
    m_optInSystemAudio = m_settings->value(kOptInSystemAudioKey, false).toBool();
    m_systemAudioRequested = m_settings->value(kSystemAudioRequestedKey, false).toBool();

    m_saveTimer.setSingleShot(true);
    m_saveTimer.setInterval(m_deps.timings.saveDelay);
    connect(&m_saveTimer, &QTimer::timeout, this, &TranscriptionViewModel::writePendingSave);

    // A model still loading at start-up says "try again shortly": asking only once would leave the question
    // field disabled for the whole launch.
    m_availabilityTimer.setSingleShot(true);
    m_availabilityTimer.setInterval(m_deps.timings.availabilityRecheck);
    connect(&m_availabilityTimer, &QTimer::timeout, this, [this] { refreshConversationAvailability({}); });
    m_askNoteTimer.setInterval(kAskNoteInterval);
    connect(&m_askNoteTimer, &QTimer::timeout, this, &TranscriptionViewModel::rereadConversationNote);
}

TranscriptionViewModel::~TranscriptionViewModel()
{
    // The views observing us may be half torn down already.
    blockSignals(true);
    shutdown();
    m_hop->close();
    // Workers go first (joined), while the fields their jobs might read are still alive.
    m_askWorker.reset();
    m_calendarWorker.reset();
    m_portWorker.reset();
    m_stopWorker.reset();
    m_storeWorker.reset();
}

Date TranscriptionViewModel::now() const
{
    return m_deps.now();
}

template <class T>
bool TranscriptionViewModel::assign(T& field, T value, void (TranscriptionViewModel::*signal)())
{
    if (sameValue(field, value)) return false;
    field = std::move(value);
    Q_EMIT(this->*signal)();
    return true;
}

// Runs work on the worker and then `then` with its result on the main thread, unless the model is gone.
template <class T, class Work, class Then>
void TranscriptionViewModel::offMain(SerialWorker& worker, Work work, Then then)
{
    worker.post([hop = m_hop, work = std::move(work), then = std::move(then)](std::stop_token stop) mutable {
        std::optional<T> result;
        result.emplace(work(stop));
        if (stop.stop_requested()) return;
        hop->post([then = std::move(then), result = std::move(*result)]() mutable { then(std::move(result)); });
    });
}

// --- Run control ---

void TranscriptionViewModel::bootstrap(Done done)
{
    offMain<std::vector<TranscriptSession>>(
        *m_storeWorker, [store = m_deps.store](std::stop_token) { return store->load(); },
        [this, done = std::move(done)](std::vector<TranscriptSession> sessions) mutable {
            setPastSessions(std::move(sessions));
            m_historyLoaded = true;
            if (m_savePending) scheduleSave();
            refreshPermissions([this, done = std::move(done)]() mutable {
                offMain<CalendarAuthorizationStatus>(
                    *m_calendarWorker,
                    [calendar = m_deps.calendar](std::stop_token) { return calendar->authorizationStatus(); },
                    [this, done = std::move(done)](CalendarAuthorizationStatus status) mutable {
                        assign(m_calendarStatus, status, &TranscriptionViewModel::calendarStatusChanged);
                        loadDayEvents([this, done = std::move(done)]() mutable {
                            refreshConversationAvailability([this, done = std::move(done)] {
                                startTranscription();
                                // After the start, which clears the log.
                                if (auto damage = m_deps.store->damageFoundAtLoad()) appendNotice(damage->notice);
                                if (done) done();
                            });
                        });
                    });
            });
        });
}

void TranscriptionViewModel::startTranscription()
{
    if (m_shutDown || m_isRunning || !canStart()) return;
    assign(m_isRunning, true, &TranscriptionViewModel::isRunningChanged);
    ++m_runGeneration;
    Q_EMIT runGenerationChanged();
    assign(m_notices, {}, &TranscriptionViewModel::noticesChanged);
    assign(m_levels, {}, &TranscriptionViewModel::levelsChanged);

    auto run = std::make_shared<Run>();
    run->generation = m_runGeneration;
    const bool microphone = m_optInMic;
    const bool systemAudio = m_optInSystemAudio;
    m_currentRun = run;
    m_runs.push_back(run);
    run->thread = std::jthread(
        [this, run, microphone, systemAudio, hop = m_hop, permissions = m_deps.permissions](std::stop_token stop) {
            const auto finishWith = [&](std::optional<std::string> notice) {
                hop->post([this, generation = run->generation, notice = std::move(notice)] {
                    if (notice) appendNotice(*notice);
                    finishRun(generation);
                });
            };
            if (permissions->speechRecognitionStatus() != Status::granted) return finishWith(kSpeechNotGrantedNotice);
            const bool micUsable = microphone && permissions->microphoneStatus() == Status::granted;
            const bool systemUsable = systemAudio && permissions->screenRecordingGranted();
            if (!micUsable && !systemUsable) return finishWith(kNoSourceNotice);
            hop->post([this, run, micUsable, systemUsable] { beginRun(run, micUsable, systemUsable); });
            runSession(run, micUsable, systemUsable, stop);
            finishWith(std::nullopt);
        });
}

void TranscriptionViewModel::beginRun(const std::shared_ptr<Run>& run, bool microphone, bool systemAudio)
{
    // A run paused or replaced while it checked its permissions must not show itself as active.
    if (run->generation != m_runGeneration || !m_isRunning || run->thread.get_stop_token().stop_requested()) return;
    std::vector<AudioSourceID> sources;
    if (microphone) sources.push_back(AudioSourceID::microphone);
    if (systemAudio) sources.push_back(AudioSourceID::systemAudio);
    std::map<AudioSourceID, std::vector<float>> history;
    for (auto source : sources)
        history[source] = std::vector<float>(levelHistoryLength, 0.0f);
    assign(m_activeSources, std::move(sources), &TranscriptionViewModel::activeSourcesChanged);
    assign(m_levelHistory, std::move(history), &TranscriptionViewModel::levelHistoryChanged);
}

// On the run's own thread.
void TranscriptionViewModel::runSession(const std::shared_ptr<Run>& run, bool microphone, bool systemAudio,
                                        std::stop_token stop)
{
    const auto generation = run->generation;
    auto onDegraded = [this, hop = m_hop](const std::string& message) {
        hop->post([this, message] { handle(OutputEvent::notice(message)); });
    };
    auto onLevel = [this, hop = m_hop, generation](AudioSourceID source, float level) {
        hop->post([this, generation, source, level] {
            // Reports still in flight from a stopped run would otherwise draw a waveform while paused.
            if (generation == m_runGeneration && m_isRunning) recordLevel(level, source);
        });
    };
    // Building a pipeline may load a model; a run stopped already has no use for it.
    if (stop.stop_requested()) return;
    LivePipeline pipeline;
    try {
        pipeline = m_deps.makePipeline(microphone, systemAudio, std::move(onDegraded), std::move(onLevel));
    } catch (const std::exception& error) {
        m_hop->post([this, message = std::string(error.what())] { handle(OutputEvent::failure(message)); });
        return;
    }
    if (!pipeline.audioSource || !pipeline.transcriber) return;
    auto sink = std::make_shared<ViewModelSink>([this](const OutputEvent& event) { handle(event); }, m_hop, stop);
    auto session = std::make_shared<RunTranscriptionSession>(pipeline.audioSource, pipeline.transcriber, sink);
    {
        std::lock_guard lock(run->mutex);
        run->session = session;
    }
    try {
        session->run(stop);
    } catch (...) {
        // The runner has already reported the failure through the sink.
    }
}

void TranscriptionViewModel::finishRun(std::int64_t generation)
{
    if (generation == m_runGeneration) {
        assign(m_isRunning, false, &TranscriptionViewModel::isRunningChanged);
        resetRunFields();
    }
    joinRun(generation);
    scheduleSave();
}

void TranscriptionViewModel::resetRunFields()
{
    assign(m_activeSources, {}, &TranscriptionViewModel::activeSourcesChanged);
    assign(m_levels, {}, &TranscriptionViewModel::levelsChanged);
    assign(m_levelHistory, {}, &TranscriptionViewModel::levelHistoryChanged);
}

// The run's thread ends right after it posts its finish, so this join is short.
void TranscriptionViewModel::joinRun(std::int64_t generation)
{
    std::erase_if(m_runs, [generation](const std::shared_ptr<Run>& run) {
        if (run->generation != generation) return false;
        if (run->thread.joinable()) run->thread.join();
        return true;
    });
}

void TranscriptionViewModel::pauseTranscription()
{
    assign(m_isPaused, true, &TranscriptionViewModel::isPausedChanged);
    assign(m_isRunning, false, &TranscriptionViewModel::isRunningChanged);
    resetRunFields();
    stopSession();
}

void TranscriptionViewModel::resumeTranscription()
{
    assign(m_isPaused, false, &TranscriptionViewModel::isPausedChanged);
    startTranscription();
}

void TranscriptionViewModel::sceneDidBecomeActive(Done done)
{
    refreshPermissions([this, done = std::move(done)] {
        if (!m_isRunning && !m_isPaused) startTranscription();
        if (done) done();
    });
}

void TranscriptionViewModel::stopRun(const std::shared_ptr<Run>& run)
{
    if (!run) return;
    run->thread.request_stop();
}

void TranscriptionViewModel::stopSession()
{
    auto run = m_currentRun;
    if (!run) return;
    stopRun(run);
    m_stopWorker->post([run](std::stop_token) {
        if (auto session = run->currentSession()) session->stop();
    });
}

void TranscriptionViewModel::restartTranscription(Done done)
{
    auto run = m_currentRun;
    stopRun(run);
    offMain<bool>(
        *m_stopWorker,
        [run](std::stop_token) {
            if (run) {
                if (auto session = run->currentSession()) session->stop();
            }
            return true;
        },
        [this, run, done = std::move(done)](bool) {
            // Two quick restarts would otherwise leave the run started by the first one running unseen, and a
            // pause pressed meanwhile must not be undone by a source change.
            if (m_currentRun != run) stopSession();
            assign(m_isRunning, false, &TranscriptionViewModel::isRunningChanged);
            if (!m_isPaused) startTranscription();
            if (done) done();
        });
}

void TranscriptionViewModel::handle(const OutputEvent& event)
{
    switch (event.kind) {
    case OutputEvent::Kind::volatileTranscript:
        if (assign(m_volatileText, event.text, &TranscriptionViewModel::volatileTextChanged)) updateLiveCaption();
        break;
    case OutputEvent::Kind::finalizedTranscript:
        m_finalizedLines.push_back(FinalizedLine{Uuid::random(), event.text, now()});
        if (!isBlankText(event.text)) ++m_nonBlankLines;
        Q_EMIT finalizedLinesChanged();
        assign(m_volatileText, std::string{}, &TranscriptionViewModel::volatileTextChanged);
        if (!m_isFollowingLatest) {
            ++m_unreadCount;
            Q_EMIT unreadCountChanged();
        }
        updateLiveCaption();
        scheduleSave();
        break;
    case OutputEvent::Kind::notice:
        if (m_notices.empty() || m_notices.back() != event.text) appendNotice(event.text);
        break;
    case OutputEvent::Kind::failure: appendNotice(kFailurePrefix + event.text); break;
    }
}

void TranscriptionViewModel::appendNotice(std::string notice)
{
    m_notices.push_back(std::move(notice));
    Q_EMIT noticesChanged();
}

void TranscriptionViewModel::updateLiveCaption()
{
    // Only the tail is laid out; the ids are positions among all non-blank finalized texts.
    const auto maxLines = LiveCaptionStyle::defaultStyle().maxLines;
    std::vector<std::string> tail;
    for (auto it = m_finalizedLines.rbegin();
         it != m_finalizedLines.rend() && static_cast<std::int64_t>(tail.size()) < maxLines; ++it) {
        if (!isBlankText(it->text)) tail.push_back(it->text);
    }
    std::reverse(tail.begin(), tail.end());
    auto content = LiveCaptionPresenter::content(tail, m_volatileText, maxLines);
    const auto offset = m_nonBlankLines - static_cast<std::int64_t>(tail.size());
    for (auto& captionLine : content.lines)
        captionLine.id += offset;
    assign(m_liveCaptionContent, std::move(content), &TranscriptionViewModel::liveCaptionContentChanged);
}

void TranscriptionViewModel::shutdown()
{
    if (m_shutDown) return;
    m_shutDown = true;
    m_availabilityTimer.stop();
    m_askNoteTimer.stop();
    for (auto& run : m_runs)
        stopRun(run);
    for (auto& run : m_runs) {
        if (auto session = run->currentSession()) session->stop();
    }
    for (auto& run : m_runs) {
        if (run->thread.joinable()) run->thread.join();
    }
    m_runs.clear();
    assign(m_isRunning, false, &TranscriptionViewModel::isRunningChanged);
    resetRunFields();
    // The last lines of the session would otherwise be lost with the pending debounced save.
    const bool pending = m_savePending;
    m_saveTimer.stop();
    m_savePending = false;
    if (m_historyLoaded && (pending || !m_finalizedLines.empty())) enqueueSave(now(), m_finalSaveError);
    m_storeWorker->drainAndJoin();
}

// --- Saving ---

TranscriptSession TranscriptionViewModel::currentSessionSnapshot() const
{
    TranscriptSession session{m_currentSessionID, m_finalizedLines, m_currentSessionStartedAt, std::nullopt};
    if (!m_isRunning) session.endedAt = now();
    return session;
}

std::vector<TranscriptSession> TranscriptionViewModel::allSessions() const
{
    std::vector<TranscriptSession> sessions;
    sessions.reserve(m_pastSessions->size() + 1);
    if (!m_finalizedLines.empty()) sessions.push_back(currentSessionSnapshot());
    sessions.insert(sessions.end(), m_pastSessions->begin(), m_pastSessions->end());
    return sessions;
}

// The list is taken when the timer fires: every change of the lines reschedules, and the end time is the one of
// this moment, so the written list is the one of the last scheduling without copying it each time.
void TranscriptionViewModel::scheduleSave()
{
    if (m_shutDown) return;
    m_savePending = true;
    m_pendingEndedAt = m_isRunning ? std::nullopt : std::optional<Date>(now());
    m_saveTimer.start();
}

void TranscriptionViewModel::writePendingSave()
{
    // Until the history is read the list would lack the past sessions; the save is scheduled again then.
    if (!m_savePending || !m_historyLoaded) return;
    m_savePending = false;
    enqueueSave(m_pendingEndedAt);
}

void TranscriptionViewModel::enqueueSave(std::optional<Date> endedAt,
                                         std::shared_ptr<std::optional<std::string>> failure)
{
    std::optional<TranscriptSession> current;
    if (!m_finalizedLines.empty())
        current = TranscriptSession{m_currentSessionID, m_finalizedLines, m_currentSessionStartedAt, endedAt};
    m_storeWorker->post([store = m_deps.store, hop = m_hop, this, current = std::move(current), past = m_pastSessions,
                         failure = std::move(failure)](std::stop_token) {
        std::vector<TranscriptSession> sessions;
        sessions.reserve(past->size() + 1);
        if (current) sessions.push_back(*current);
        sessions.insert(sessions.end(), past->begin(), past->end());
        // A history that silently stops being written would lose the user's lines without a word.
        if (auto error = store->save(sessions)) {
            if (failure) *failure = error->message;
            hop->post([this, message = std::move(error->message)] { handle(OutputEvent::notice(message)); });
        }
    });
}

void TranscriptionViewModel::setPastSessions(std::vector<TranscriptSession> sessions)
{
    if (sessions == *m_pastSessions) return;
    m_pastSessions = std::make_shared<const std::vector<TranscriptSession>>(std::move(sessions));
    Q_EMIT pastSessionsChanged();
}

// --- Sources, permissions and levels ---

void TranscriptionViewModel::setOptInMic(bool value)
{
    assign(m_optInMic, value, &TranscriptionViewModel::optInMicChanged);
    m_settings->setValue(kOptInMicKey, value);
    sourcesDidChange();
}

void TranscriptionViewModel::setOptInSystemAudio(bool value)
{
    assign(m_optInSystemAudio, value, &TranscriptionViewModel::optInSystemAudioChanged);
    m_settings->setValue(kOptInSystemAudioKey, value);
    sourcesDidChange();
}

void TranscriptionViewModel::setSystemAudioRequested(bool value)
{
    assign(m_systemAudioRequested, value, &TranscriptionViewModel::systemAudioRequestedChanged);
    m_settings->setValue(kSystemAudioRequestedKey, value);
}

void TranscriptionViewModel::sourcesDidChange()
{
    if (m_isRunning) {
        restartTranscription();
    } else if (!m_isPaused && canStart()) {
        startTranscription();
    }
}

bool TranscriptionViewModel::canStart() const
{
    if (m_speechStatus != Status::granted) return false;
    return (m_optInMic && m_micStatus == Status::granted) || (m_optInSystemAudio && m_systemAudioGranted);
}

SourceAccessState TranscriptionViewModel::accessState(AudioSourceID source) const
{
    if (source == AudioSourceID::systemAudio) {
        if (m_systemAudioGranted) return SourceAccessState::granted(m_optInSystemAudio);
        return m_systemAudioRequested ? SourceAccessState::denied() : SourceAccessState::undetermined();
    }
    switch (m_micStatus) {
    case Status::granted: return SourceAccessState::granted(m_optInMic);
    case Status::denied: return SourceAccessState::denied();
    case Status::restricted: return SourceAccessState::restricted();
    case Status::undetermined: break;
    }
    return SourceAccessState::undetermined();
}

namespace {

struct PermissionReading {
    PermissionManager::Status microphone;
    PermissionManager::Status speech;
    bool screenRecording;
};

} // namespace

void TranscriptionViewModel::refreshPermissions(Done done)
{
    offMain<PermissionReading>(
        *m_portWorker,
        [permissions = m_deps.permissions](std::stop_token) {
            return PermissionReading{permissions->microphoneStatus(), permissions->speechRecognitionStatus(),
                                     permissions->screenRecordingGranted()};
        },
        [this, done = std::move(done)](PermissionReading reading) {
            assign(m_micStatus, reading.microphone, &TranscriptionViewModel::micStatusChanged);
            assign(m_speechStatus, reading.speech, &TranscriptionViewModel::speechStatusChanged);
            assign(m_systemAudioGranted, reading.screenRecording, &TranscriptionViewModel::systemAudioGrantedChanged);
            if (done) done();
        });
}

// Asks for speech recognition when it was never decided, then re-reads the permissions.
void TranscriptionViewModel::afterPermissions(Done then)
{
    if (m_speechStatus == Status::undetermined) {
        offMain<bool>(
            *m_portWorker,
            [permissions = m_deps.permissions](std::stop_token) { return permissions->requestSpeechRecognition(); },
            [this, then = std::move(then)](bool) mutable { refreshPermissions(std::move(then)); });
        return;
    }
    refreshPermissions(std::move(then));
}

void TranscriptionViewModel::requestMicrophoneAccess(Done done)
{
    offMain<bool>(
        *m_portWorker, [permissions = m_deps.permissions](std::stop_token) { return permissions->requestMicrophone(); },
        [this, done = std::move(done)](bool) mutable {
            afterPermissions([this, done = std::move(done)] {
                if (m_micStatus == Status::granted) setOptInMic(true);
                postSpeechPermissionNotice();
                if (done) done();
            });
        });
}

void TranscriptionViewModel::requestSystemAudioAccess(Done done)
{
    setSystemAudioRequested(true);
    offMain<bool>(
        *m_portWorker,
        [permissions = m_deps.permissions](std::stop_token) { return permissions->requestScreenRecording(); },
        [this, done = std::move(done)](bool) mutable {
            afterPermissions([this, done = std::move(done)] {
                setOptInSystemAudio(true);
                if (!m_systemAudioGranted) appendNotice(kSystemAudioRestartNotice);
                postSpeechPermissionNotice();
                if (done) done();
            });
        });
}

void TranscriptionViewModel::postSpeechPermissionNotice()
{
    if (m_speechStatus != Status::denied && m_speechStatus != Status::restricted) return;
    if (std::find(m_notices.begin(), m_notices.end(), kSpeechPermissionNotice) != m_notices.end()) return;
    appendNotice(kSpeechPermissionNotice);
}

void TranscriptionViewModel::openPrivacySettings(AudioSourceID source, Done done)
{
    if (source == AudioSourceID::microphone) {
        requestMicrophoneAccess(std::move(done));
    } else {
        requestSystemAudioAccess(std::move(done));
    }
}

void TranscriptionViewModel::recordLevel(float level, AudioSourceID source)
{
    auto levels = m_levels;
    levels[source] = level;
    assign(m_levels, std::move(levels), &TranscriptionViewModel::levelsChanged);
    auto& history = m_levelHistory[source];
    history.push_back(level);
    if (history.size() > static_cast<std::size_t>(levelHistoryLength))
        history.erase(history.begin(), history.end() - levelHistoryLength);
    Q_EMIT levelHistoryChanged();
}

void TranscriptionViewModel::clearNotices()
{
    assign(m_notices, {}, &TranscriptionViewModel::noticesChanged);
}

// --- History, calendar browsing and export ---

void TranscriptionViewModel::setBrowsingEvent(std::optional<CalendarEvent> event)
{
    assign(m_browsingEvent, std::move(event), &TranscriptionViewModel::browsingEventChanged);
}

std::vector<FinalizedLine> TranscriptionViewModel::allLines() const
{
    std::vector<FinalizedLine> lines;
    if (!m_finalizedLines.empty()) lines = m_finalizedLines;
    for (const auto& session : *m_pastSessions)
        lines.insert(lines.end(), session.lines.begin(), session.lines.end());
    std::stable_sort(lines.begin(), lines.end(), [](const auto& a, const auto& b) { return a.time < b.time; });
    return lines;
}

std::vector<FinalizedLine> TranscriptionViewModel::browsingLines() const
{
    if (!m_browsingEvent) return {};
    auto lines = allLines();
    std::erase_if(lines, [&](const FinalizedLine& l) {
        return !(m_browsingEvent->start <= l.time && l.time <= m_browsingEvent->end);
    });
    return lines;
}

bool TranscriptionViewModel::hasLines(const CalendarEvent& event) const
{
    const auto inside = [&](const FinalizedLine& l) { return event.start <= l.time && l.time <= event.end; };
    if (std::any_of(m_finalizedLines.begin(), m_finalizedLines.end(), inside)) return true;
    return std::any_of(m_pastSessions->begin(), m_pastSessions->end(), [&](const TranscriptSession& session) {
        return std::any_of(session.lines.begin(), session.lines.end(), inside);
    });
}

void TranscriptionViewModel::moveSidebarDay(int days, Done done)
{
    const QDate day = localDateTime(m_sidebarDate).date().addDays(days);
    const QDateTime start = day.isValid() ? day.startOfDay() : QDateTime();
    if (!start.isValid()) {
        if (done) done();
        return;
    }
    assign(m_sidebarDate, dateFromDateTime(start), &TranscriptionViewModel::sidebarDateChanged);
    loadDayEvents(std::move(done));
}

void TranscriptionViewModel::loadDayEvents(Done done)
{
    if (m_calendarStatus != CalendarAuthorizationStatus::granted) {
        assign(m_dayEvents, {}, &TranscriptionViewModel::dayEventsChanged);
        if (done) done();
        return;
    }
    offMain<std::vector<CalendarEvent>>(
        *m_calendarWorker,
        [calendar = m_deps.calendar, day = m_sidebarDate](std::stop_token) { return calendar->eventsOnDay(day); },
        [this, done = std::move(done)](std::vector<CalendarEvent> events) {
            assign(m_dayEvents, std::move(events), &TranscriptionViewModel::dayEventsChanged);
            if (done) done();
        });
}

void TranscriptionViewModel::requestCalendarAccess(Done done)
{
    offMain<CalendarAuthorizationStatus>(
        *m_calendarWorker,
        [calendar = m_deps.calendar](std::stop_token) {
            calendar->requestAccess();
            return calendar->authorizationStatus();
        },
        [this, done = std::move(done)](CalendarAuthorizationStatus status) mutable {
            assign(m_calendarStatus, status, &TranscriptionViewModel::calendarStatusChanged);
            loadDayEvents(std::move(done));
        });
}

void TranscriptionViewModel::openCalendarPrivacySettings(Done done)
{
    requestCalendarAccess(std::move(done));
}

void TranscriptionViewModel::clearAll()
{
    if (!m_finalizedLines.empty()) {
        m_finalizedLines.clear();
        m_nonBlankLines = 0;
        Q_EMIT finalizedLinesChanged();
    }
    assign(m_volatileText, std::string{}, &TranscriptionViewModel::volatileTextChanged);
    updateLiveCaption();
    assign(m_levels, {}, &TranscriptionViewModel::levelsChanged);
    assign(m_levelHistory, {}, &TranscriptionViewModel::levelHistoryChanged);
    setPastSessions({});
    setBrowsingEvent(std::nullopt);
    m_currentSessionID = Uuid::random();
    m_currentSessionStartedAt = now();
    Q_EMIT currentSessionChanged();
    assign(m_isFollowingLatest, true, &TranscriptionViewModel::isFollowingLatestChanged);
    assign(m_unreadCount, std::int64_t{0}, &TranscriptionViewModel::unreadCountChanged);
    assign(m_highlightedLineID, std::optional<Uuid>{}, &TranscriptionViewModel::highlightedLineIDChanged);
    assign(m_pendingScrollTarget, std::optional<Uuid>{}, &TranscriptionViewModel::pendingScrollTargetChanged);
    assign(m_askAnswer, std::optional<ConversationAnswer>{}, &TranscriptionViewModel::askAnswerChanged);
    assign(m_askQuestion, std::string{}, &TranscriptionViewModel::askQuestionChanged);
    assign(m_askError, std::optional<std::string>{}, &TranscriptionViewModel::askErrorChanged);
    m_saveTimer.stop();
    m_savePending = false;
    m_storeWorker->post([store = m_deps.store](std::stop_token) { store->clear(); });
}

std::optional<std::string> TranscriptionViewModel::markdownExport() const
{
    if (m_finalizedLines.empty()) return std::nullopt;
    std::string text = "# 文字起こし\n\n出力日時: " + formatted(now(), "yyyy-MM-dd HH:mm:ss") + "\n\n## 本文\n\n";
    for (const auto& l : m_finalizedLines)
        text += "- `" + formatted(l.time, "HH:mm:ss") + "` " + l.text + "\n";
    text += "\n";
    return text;
}

std::string TranscriptionViewModel::defaultExportFileName() const
{
    return "transcript-" + formatted(now(), "yyyyMMdd-HHmmss") + ".md";
}

// --- Reading position and questions ---

void TranscriptionViewModel::setFollowingLatest(bool value)
{
    assign(m_isFollowingLatest, value, &TranscriptionViewModel::isFollowingLatestChanged);
    if (value) assign(m_unreadCount, std::int64_t{0}, &TranscriptionViewModel::unreadCountChanged);
}

void TranscriptionViewModel::setPendingScrollTarget(std::optional<Uuid> target)
{
    assign(m_pendingScrollTarget, std::move(target), &TranscriptionViewModel::pendingScrollTargetChanged);
}

void TranscriptionViewModel::focusLine(const Uuid& id)
{
    assign(m_isFollowingLatest, false, &TranscriptionViewModel::isFollowingLatestChanged);
    assign(m_highlightedLineID, std::optional<Uuid>{id}, &TranscriptionViewModel::highlightedLineIDChanged);
    assign(m_pendingScrollTarget, std::optional<Uuid>{id}, &TranscriptionViewModel::pendingScrollTargetChanged);
    QTimer::singleShot(m_deps.timings.highlightDuration, this, [this, id] {
        if (m_highlightedLineID == id)
            assign(m_highlightedLineID, std::optional<Uuid>{}, &TranscriptionViewModel::highlightedLineIDChanged);
    });
}

std::optional<FinalizedLine> TranscriptionViewModel::line(const Uuid& id) const
{
    const auto it = std::find_if(m_finalizedLines.begin(), m_finalizedLines.end(),
                                 [&](const FinalizedLine& l) { return l.id == id; });
    if (it == m_finalizedLines.end()) return std::nullopt;
    return *it;
}

void TranscriptionViewModel::refreshConversationAvailability(Done done)
{
    offMain<ConversationResponderAvailability>(
        *m_askWorker, [responder = m_deps.responder](std::stop_token) { return responder->availability(); },
        [this, done = std::move(done)](ConversationResponderAvailability availability) {
            assign(m_conversationAvailable, availability.isAvailable(),
                   &TranscriptionViewModel::conversationAvailableChanged);
            assign(m_conversationUnavailableReason,
                   availability.isAvailable() ? std::nullopt : std::optional<std::string>(availability.reason()),
                   &TranscriptionViewModel::conversationUnavailableReasonChanged);
            assign(m_conversationNote, availability.note(), &TranscriptionViewModel::conversationNoteChanged);
            if (!availability.isAvailable() && !m_shutDown) m_availabilityTimer.start();
            if (done) done();
        });
}

void TranscriptionViewModel::rereadConversationNote()
{
    // availability() only reads the model file's state, so the main thread may ask while an answer runs.
    const auto availability = m_deps.responder->availability();
    if (availability.isAvailable())
        assign(m_conversationNote, availability.note(), &TranscriptionViewModel::conversationNoteChanged);
}

void TranscriptionViewModel::setAskQuestion(const std::string& question)
{
    assign(m_askQuestion, question, &TranscriptionViewModel::askQuestionChanged);
}

namespace {

using AskOutcome = std::optional<ConversationAnswer>;

} // namespace

void TranscriptionViewModel::askAboutConversation(Done done)
{
    const std::string question = trimmed(m_askQuestion);
    if (!m_conversationAvailable || question.empty() || m_isAsking) {
        if (done) done();
        return;
    }
    assign(m_isAsking, true, &TranscriptionViewModel::isAskingChanged);
    assign(m_askError, std::optional<std::string>{}, &TranscriptionViewModel::askErrorChanged);
    auto excerpt = ConversationQuestionContext::excerpt(m_finalizedLines, askMaxLines);
    m_askNoteTimer.start();
    offMain<AskOutcome>(
        *m_askWorker,
        [responder = m_deps.responder, question, excerpt = std::move(excerpt)](std::stop_token stop) -> AskOutcome {
            try {
                return responder->answer(question, excerpt, stop);
            } catch (...) {
                return std::nullopt;
            }
        },
        [this, done = std::move(done)](AskOutcome outcome) {
            if (outcome) {
                assign(m_askAnswer, std::move(outcome), &TranscriptionViewModel::askAnswerChanged);
            } else {
                assign(m_askAnswer, std::optional<ConversationAnswer>{}, &TranscriptionViewModel::askAnswerChanged);
                assign(m_askError, std::optional<std::string>{kAskFailedText},
                       &TranscriptionViewModel::askErrorChanged);
            }
            m_askNoteTimer.stop();
            rereadConversationNote();
            assign(m_isAsking, false, &TranscriptionViewModel::isAskingChanged);
            if (done) done();
        });
}

} // namespace tc
