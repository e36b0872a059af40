#include "TranscriptionUI/presentation/ConversationAsking.h"

#include "TranscriptionDomain/BlankText.h"
#include "TranscriptionDomain/ConversationQuestionContext.h"
#include "TranscriptionDomain/Utf8.h"
#include "TranscriptionUI/presentation/ObservedValue.h"

namespace tc {

namespace {

const std::string kAskFailedText = "うまく答えられませんでした。もう一度お試しください。";
constexpr std::chrono::milliseconds kNoteRecheck{250};

using AskOutcome = std::optional<ConversationAnswer>;

// The text without the white space that blank text ignores, at both ends. Cut only at code-point boundaries.
std::string trimmed(const std::string& text)
{
    const auto isBoundary = [&](std::size_t i) {
        return i == 0 || i == text.size() || !Utf8::isContinuationByte(text[i]);
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

} // namespace

ConversationAsking::ConversationAsking(std::shared_ptr<ConversationResponder> responder,
                                       std::shared_ptr<MainThreadHop> hop,
                                       std::chrono::milliseconds availabilityRecheck)
    : m_responder(std::move(responder)), m_hop(std::move(hop)), m_worker(std::make_unique<SerialWorker>())
{
    // A model still loading at start-up says "try again shortly": asking only once would leave the question
    // field disabled for the whole launch.
    m_recheck.setSingleShot(true);
    m_recheck.setInterval(availabilityRecheck);
    connect(&m_recheck, &QTimer::timeout, this, [this] { refreshAvailability({}); });
    m_noteRecheck.setInterval(kNoteRecheck);
    connect(&m_noteRecheck, &QTimer::timeout, this, &ConversationAsking::rereadNote);
}

ConversationAsking::~ConversationAsking()
{
    close();
}

void ConversationAsking::stopRechecking()
{
    m_rechecking = false;
    m_recheck.stop();
    m_noteRecheck.stop();
}

void ConversationAsking::close()
{
    stopRechecking();
    m_worker.reset();
}

void ConversationAsking::setQuestion(const std::string& question)
{
    assignObserved(this, m_question, question, &ConversationAsking::questionChanged);
}

void ConversationAsking::refreshAvailability(Done done)
{
    if (!m_worker) return;
    runOffMain<ConversationResponderAvailability>(
        *m_worker, m_hop, [responder = m_responder](std::stop_token) { return responder->availability(); },
        [this, done = std::move(done)](ConversationResponderAvailability availability) {
            assignObserved(this, m_available, availability.isAvailable(), &ConversationAsking::availableChanged);
            assignObserved(this, m_unavailableReason,
                           availability.isAvailable() ? std::nullopt
                                                      : std::optional<std::string>(availability.reason()),
                           &ConversationAsking::unavailableReasonChanged);
            assignObserved(this, m_note, availability.note(), &ConversationAsking::noteChanged);
            if (!availability.isAvailable() && m_rechecking) m_recheck.start();
            if (done) done();
        });
}

void ConversationAsking::ask(const std::vector<FinalizedLine>& lines, Done done)
{
    const std::string question = trimmed(m_question);
    if (!m_available || question.empty() || m_isAsking || !m_worker) {
        if (done) done();
        return;
    }
    assignObserved(this, m_isAsking, true, &ConversationAsking::isAskingChanged);
    assignObserved(this, m_error, std::optional<std::string>{}, &ConversationAsking::errorChanged);
    auto excerpt = ConversationQuestionContext::excerpt(lines, askMaxLines);
    if (m_rechecking) m_noteRecheck.start();
    runOffMain<AskOutcome>(
        *m_worker, m_hop,
        [responder = m_responder, question, excerpt = std::move(excerpt)](std::stop_token stop) -> AskOutcome {
            try {
                return responder->answer(question, excerpt, stop);
            } catch (...) {
                return std::nullopt;
            }
        },
        [this, done = std::move(done)](AskOutcome outcome) {
            if (outcome) {
                assignObserved(this, m_answer, std::move(outcome), &ConversationAsking::answerChanged);
            } else {
                assignObserved(this, m_answer, std::optional<ConversationAnswer>{}, &ConversationAsking::answerChanged);
                assignObserved(this, m_error, std::optional<std::string>{kAskFailedText},
                               &ConversationAsking::errorChanged);
            }
            m_noteRecheck.stop();
            rereadNote();
            assignObserved(this, m_isAsking, false, &ConversationAsking::isAskingChanged);
            if (done) done();
        });
}

void ConversationAsking::rereadNote()
{
    const auto availability = m_responder->availability();
    if (availability.isAvailable()) assignObserved(this, m_note, availability.note(), &ConversationAsking::noteChanged);
}

void ConversationAsking::clear()
{
    assignObserved(this, m_answer, std::optional<ConversationAnswer>{}, &ConversationAsking::answerChanged);
    assignObserved(this, m_question, std::string{}, &ConversationAsking::questionChanged);
    assignObserved(this, m_error, std::optional<std::string>{}, &ConversationAsking::errorChanged);
}

} // namespace tc
