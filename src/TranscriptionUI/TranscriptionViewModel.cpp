#include "TranscriptionUI/TranscriptionViewModel.h"

#include "TranscriptionDomain/BlankText.h"
#include "TranscriptionDomain/LiveCaptionPresenter.h"
#include "TranscriptionDomain/LiveCaptionStyle.h"
#include "TranscriptionDomain/SubtitleCueBuilder.h"
#include "TranscriptionDomain/TranscriptExporter.h"
#include "TranscriptionInfrastructure/files/AtomicFileWriter.h"
#include "TranscriptionUI/presentation/CalendarBrowsing.h"
#include "TranscriptionUI/presentation/HistoryAutosave.h"
#include "TranscriptionUI/presentation/MainThreadHop.h"
#include "TranscriptionUI/presentation/NoticeLog.h"
#include "TranscriptionUI/presentation/ObservedValue.h"
#include "TranscriptionUI/presentation/ReadingPosition.h"

#include <QDate>
#include <QDateTime>
#include <QSettings>
#include <QString>

#include <algorithm>
#include <cmath>
#include <initializer_list>
#include <stdexcept>
#include <utility>

namespace tc {

namespace {

const std::string kFailurePrefix = "エラー: ";

QDateTime localDateTime(Date date)
{
    return QDateTime::fromMSecsSinceEpoch(static_cast<qint64>(std::llround(unixSecondsFromDate(date) * 1000.0)));
}

Date dateFromDateTime(const QDateTime& time)
{
    return dateFromUnixSeconds(static_cast<double>(time.toMSecsSinceEpoch()) / 1000.0);
}

std::string formatted(Date date, const char* pattern)
{
    return localDateTime(date).toString(QString::fromUtf8(pattern)).toStdString();
}

} // namespace

TranscriptionViewModel::TranscriptionViewModel(Dependencies dependencies, QObject* parent)
    : QObject(parent), m_deps(std::move(dependencies)), m_hop(std::make_shared<MainThreadHop>(this))
{
    if (!m_deps.permissions || !m_deps.calendar || !m_deps.responder || !m_deps.store || !m_deps.makePipeline ||
        !m_deps.makeSearchEngine)
        throw std::invalid_argument("TranscriptionViewModel needs every port and factory");
    if (!m_deps.now) m_deps.now = currentDate;
    QSettings* settings = m_deps.settings;
    if (!settings) {
        m_ownedSettings = std::make_unique<QSettings>();
        settings = m_ownedSettings.get();
    }
    m_transcript = std::make_unique<SessionTranscript>(Uuid::random(), now());
    m_runStartedAt = m_transcript->startedAt();

    m_notices = std::make_unique<NoticeLog>();
    m_sources = std::make_unique<SourceAccess>(m_deps.permissions, settings, m_hop, *m_notices);
    m_run = std::make_unique<RunControl>(
        m_deps.permissions, m_deps.makePipeline, m_hop, *m_sources, *m_notices,
        [this](const OutputEvent& event) { handle(event); }, [this] { scheduleSave(); });
    m_autosave = std::make_unique<HistoryAutosave>(
        m_deps.store, m_hop, m_deps.timings.saveDelay,
        [this](std::optional<Date> endedAt) -> std::optional<TranscriptSession> {
            if (m_transcript->lines().empty()) return std::nullopt;
            return TranscriptSession{m_transcript->sessionID(), m_transcript->lines(), m_transcript->startedAt(),
                                     endedAt};
        },
        [this](const std::string& message) { handle(OutputEvent::notice(message)); });
    m_calendar = std::make_unique<CalendarBrowsing>(m_deps.calendar, m_hop, now());
    m_reading = std::make_unique<ReadingPosition>(m_deps.timings.highlightDuration);
    m_asking = std::make_unique<ConversationAsking>(m_deps.responder, m_hop, m_deps.timings.availabilityRecheck);
    m_search = std::make_unique<HistorySearch>(m_deps.makeSearchEngine, m_hop);
    connectCollaborators();
}

TranscriptionViewModel::~TranscriptionViewModel()
{
    // The views observing us and our presentation objects may be half torn down already.
    blockSignals(true);
    for (QObject* part : std::initializer_list<QObject*>{m_transcript.get(), m_notices.get(), m_sources.get(),
                                                         m_run.get(), m_autosave.get(), m_calendar.get(),
                                                         m_reading.get(), m_asking.get(), m_search.get()})
        part->blockSignals(true);
    shutdown();
    m_hop->close();
    // Workers go first (joined), while the fields their jobs might read are still alive.
    m_asking->close();
    m_search->close();
    m_calendar->close();
    m_sources->close();
    m_run.reset();
    m_autosave.reset();
}

void TranscriptionViewModel::connectCollaborators()
{
    connect(m_sources.get(), &SourceAccess::sourcesChanged, this, [this] { m_run->reconcileSources(); });
    // The notice comes once the run has followed: a run that starts again clears the log.
    connect(m_sources.get(), &SourceAccess::consentWithdrawn, this, [this](const std::string& notice) {
        m_run->reconcileSources([this, notice] { m_notices->append(notice); });
    });
    connect(m_run.get(), &RunControl::runGenerationChanged, this, [this] { m_runStartedAt = now(); });
    connect(m_autosave.get(), &HistoryAutosave::pastSessionsChanged, this,
            [this] { m_search->replaceAll(allSessions()); });
}

Date TranscriptionViewModel::now() const
{
    return m_deps.now();
}

// --- Running ---

void TranscriptionViewModel::bootstrap(Done done)
{
    // Two strands: the start, and the calendar, which the start never waits for. done follows both.
    auto strands = std::make_shared<int>(2);
    auto finished = [strands, done = std::move(done)] {
        if (--*strands == 0 && done) done();
    };
    m_calendar->refresh(finished);
    m_autosave->load([this, finished]() mutable {
        m_sources->refresh([this, finished]() mutable {
            m_asking->refreshAvailability([this, finished] {
                // A pause pressed while the start-up was still reading holds.
                if (!m_run->isPaused()) startTranscription();
                // After the start, which clears the log.
                if (auto damage = m_deps.store->damageFoundAtLoad()) m_notices->append(damage->notice);
                finished();
            });
        });
    });
}

void TranscriptionViewModel::startTranscription()
{
    if (m_shutDown) return;
    m_run->start();
}

void TranscriptionViewModel::sceneDidBecomeActive(Done done)
{
    m_sources->refresh([this, done = std::move(done)] {
        if (!m_run->isRunning() && !m_run->isPaused()) startTranscription();
        if (done) done();
    });
}

void TranscriptionViewModel::handle(const OutputEvent& event)
{
    switch (event.kind) {
    case OutputEvent::Kind::volatileTranscript:
        if (m_transcript->setVolatileText(event.text)) updateLiveCaption();
        break;
    case OutputEvent::Kind::finalizedTranscript: {
        // A run counts its times from its own start; the line's count from the session's, which may hold several runs.
        const double runOffset = m_runStartedAt - m_transcript->startedAt();
        const auto inSession = [&](std::optional<double> t) { return t ? std::optional(*t + runOffset) : t; };
        FinalizedLine line{Uuid::random(),         event.text,           now(),
                           inSession(event.start), inSession(event.end), event.speaker};
        if (!isBlankText(event.text)) ++m_nonBlankLines;
        m_search->appendLine(m_transcript->sessionID(), m_transcript->startedAt(), line);
        m_transcript->appendLine(std::move(line));
        m_transcript->setVolatileText({});
        m_reading->lineArrived();
        updateLiveCaption();
        scheduleSave();
        break;
    }
    case OutputEvent::Kind::notice: m_notices->appendUnlessRepeated(event.text); break;
    case OutputEvent::Kind::failure: m_notices->append(kFailurePrefix + event.text); break;
    }
}

void TranscriptionViewModel::setCaptionShowsSpeaker(bool value)
{
    if (value == m_captionShowsSpeaker) return;
    m_captionShowsSpeaker = value;
    updateLiveCaption();
}

void TranscriptionViewModel::setCaptionLineCount(std::int64_t count)
{
    if (count == m_captionLineCount) return;
    m_captionLineCount = count;
    updateLiveCaption();
}

void TranscriptionViewModel::updateLiveCaption()
{
    // Only the tail is laid out; the ids are positions among all non-blank finalized texts.
    const auto maxLines = m_captionLineCount;
    const auto& lines = m_transcript->lines();
    std::vector<std::string> tail;
    for (auto it = lines.rbegin(); it != lines.rend() && static_cast<std::int64_t>(tail.size()) < maxLines; ++it) {
        if (!isBlankText(it->text))
            tail.push_back(m_captionShowsSpeaker ? SubtitleCueBuilder::speakerTag(it->speaker) + it->text : it->text);
    }
    std::reverse(tail.begin(), tail.end());
    auto content = LiveCaptionPresenter::content(tail, m_transcript->volatileText(), maxLines);
    const auto offset = m_nonBlankLines - static_cast<std::int64_t>(tail.size());
    for (auto& captionLine : content.lines)
        captionLine.id += offset;
    assignObserved(this, m_liveCaptionContent, std::move(content), &TranscriptionViewModel::liveCaptionContentChanged);
}

void TranscriptionViewModel::shutdown()
{
    if (m_shutDown) return;
    m_shutDown = true;
    m_asking->stopRechecking();
    m_run->shutdown();
    m_autosave->finish(!m_transcript->lines().empty(), now());
}

// --- Saving ---

TranscriptSession TranscriptionViewModel::currentSessionSnapshot() const
{
    TranscriptSession session{m_transcript->sessionID(), m_transcript->lines(), m_transcript->startedAt(),
                              std::nullopt};
    if (!m_run->isRunning()) session.endedAt = now();
    return session;
}

std::vector<TranscriptSession> TranscriptionViewModel::allSessions() const
{
    const auto& past = m_autosave->pastSessions();
    std::vector<TranscriptSession> sessions;
    sessions.reserve(past.size() + 1);
    if (!m_transcript->lines().empty()) sessions.push_back(currentSessionSnapshot());
    sessions.insert(sessions.end(), past.begin(), past.end());
    return sessions;
}

void TranscriptionViewModel::scheduleSave()
{
    if (m_shutDown) return;
    m_autosave->schedule(m_run->isRunning() ? std::nullopt : std::optional<Date>(now()));
}

// --- History, calendar browsing and export ---

std::vector<FinalizedLine> TranscriptionViewModel::allLines() const
{
    std::vector<FinalizedLine> lines = m_transcript->lines();
    for (const auto& session : m_autosave->pastSessions())
        lines.insert(lines.end(), session.lines.begin(), session.lines.end());
    std::stable_sort(lines.begin(), lines.end(), [](const auto& a, const auto& b) { return a.time < b.time; });
    return lines;
}

std::vector<FinalizedLine> TranscriptionViewModel::browsingLines() const
{
    const auto& event = m_calendar->browsingEvent();
    if (!event) return {};
    return CalendarBrowsing::linesIn(*event, m_transcript->lines(), m_autosave->pastSessions());
}

bool TranscriptionViewModel::hasLines(const CalendarEvent& event) const
{
    return CalendarBrowsing::hasLines(event, m_transcript->lines(), m_autosave->pastSessions());
}

void TranscriptionViewModel::clearAll()
{
    m_nonBlankLines = 0;
    m_transcript->clearLines();
    m_transcript->setVolatileText({});
    updateLiveCaption();
    m_run->clearLevels();
    m_autosave->clear();
    m_calendar->setBrowsingEvent(std::nullopt);
    m_transcript->beginSession(Uuid::random(), now());
    m_reading->reset();
    m_asking->clear();
    m_search->replaceAll({});
}

std::optional<std::string> TranscriptionViewModel::transcriptExport(TranscriptExportFormat format) const
{
    if (m_transcript->lines().empty()) return std::nullopt;
    TranscriptExporter::Input input{m_transcript->lines(), m_transcript->startedAt(),
                                    formatted(now(), "yyyy-MM-dd HH:mm:ss"),
                                    [](Date date) { return formatted(date, "HH:mm:ss"); }};
    return TranscriptExporter::write(format, input);
}

Expected<void, std::string> TranscriptionViewModel::exportTranscript(const std::filesystem::path& file,
                                                                     TranscriptExportFormat format) const
{
    const auto text = transcriptExport(format);
    if (!text)
        return Unexpected{std::string("書き出す行がありません。文字起こしが始まってからもう一度お試しください。")};
    if (const auto written = AtomicFileWriter::write(file, *text, 0644); !written)
        return Unexpected{"エクスポートできませんでした（" + AtomicFileWriter::describe(written.error()) +
                          "）。記録はそのまま残っています。保存先を変えてもう一度お試しください。"};
    return {};
}

std::string TranscriptionViewModel::defaultExportFileName(TranscriptExportFormat format) const
{
    return "transcript-" + formatted(now(), "yyyyMMdd-HHmmss") + "." + std::string(exportFormatExtension(format));
}

// --- History search ---

bool TranscriptionViewModel::openHistorySearchResult(const Uuid& lineId)
{
    std::optional<Date> time;
    for (const auto& session : allSessions()) {
        for (const auto& l : session.lines) {
            if (l.id == lineId) time = l.time;
        }
    }
    if (!time) return false;
    const QDate day = localDateTime(*time).date();
    const QDate shown = localDateTime(m_calendar->day()).date();
    if (const auto days = shown.daysTo(day); days != 0) m_calendar->moveDay(static_cast<int>(days));
    // A day has no calendar event of its own, so one spanning it stands in; its end is the last instant of the day.
    const Date start = dateFromDateTime(day.startOfDay());
    const Date end = dateFromDateTime(day.addDays(1).startOfDay()) - 0.001;
    m_calendar->setBrowsingEvent(CalendarEvent{"history-day-" + day.toString(Qt::ISODate).toStdString(),
                                               formatted(start, "yyyy年M月d日"), start, end, 0});
    m_reading->focusLine(lineId);
    return true;
}

// --- Questions ---

void TranscriptionViewModel::useLanguageModel(const std::string& file, Done done)
{
    if (m_deps.chooseLanguageModel) m_deps.chooseLanguageModel(file);
    m_asking->refreshAvailability(std::move(done));
}

void TranscriptionViewModel::askAboutConversation(Done done)
{
    m_asking->ask(m_transcript->lines(), std::move(done));
}

} // namespace tc
