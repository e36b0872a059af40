#pragma once

#include "TranscriptionApplication/ConversationResponder.h"
#include "TranscriptionDomain/ConversationAnswer.h"
#include "TranscriptionDomain/FinalizedLine.h"

#include <QObject>
#include <QTimer>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tc {

class MainThreadHop;
class SerialWorker;

// Questions about the conversation: whether the responder can answer (asked again while it cannot), the
// question being typed, and the one outcome of the last question, an answer or an error. The responder is only
// called on a worker. Main thread only; operations marked async call `done` on the main thread when finished.
class ConversationAsking : public QObject {
    Q_OBJECT
public:
    using Done = std::function<void()>;

    static constexpr std::int64_t askMaxLines = 80;

    ConversationAsking(std::shared_ptr<ConversationResponder> responder, std::shared_ptr<MainThreadHop> hop,
                       std::chrono::milliseconds availabilityRecheck);
    ~ConversationAsking() override;

    bool available() const { return m_available; }
    const std::optional<std::string>& unavailableReason() const { return m_unavailableReason; }
    // What the responder says about its answers (quotations, or the model loading); empty when nothing.
    const std::string& note() const { return m_note; }
    const std::string& question() const { return m_question; }
    void setQuestion(const std::string& question);
    const std::optional<ConversationAnswer>& answer() const { return m_answer; }
    bool isAsking() const { return m_isAsking; }
    const std::optional<std::string>& error() const { return m_error; }

    // Reads the responder's availability; while unavailable, reads it again after the recheck time. async.
    void refreshAvailability(Done done = {});
    // Asks about the most recent of the lines; ignored while asking, while unavailable or for a blank question.
    // async (done also runs when ignored).
    void ask(const std::vector<FinalizedLine>& lines, Done done = {});
    // Forgets the question and its outcome.
    void clear();
    // Stops asking again for the availability; for quitting.
    void stopRechecking();
    // Stops asking again and drops replies still pending; joins the worker.
    void close();

signals:
    void availableChanged();
    void unavailableReasonChanged();
    void noteChanged();
    void questionChanged();
    void answerChanged();
    void isAskingChanged();
    void errorChanged();

private:
    // Takes the responder's current note (a cheap read, so on the main thread even while an answer runs).
    void rereadNote();

    std::shared_ptr<ConversationResponder> m_responder;
    std::shared_ptr<MainThreadHop> m_hop;
    std::unique_ptr<SerialWorker> m_worker;
    QTimer m_recheck;
    bool m_rechecking = true;
    bool m_available = false;
    std::optional<std::string> m_unavailableReason;
    std::string m_note;
    // While a question is answered, re-reads the note: the first question loads the model.
    QTimer m_noteRecheck;
    std::string m_question;
    std::optional<ConversationAnswer> m_answer;
    bool m_isAsking = false;
    std::optional<std::string> m_error;
};

} // namespace tc
