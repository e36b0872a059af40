#pragma once

#include <QWidget>

class QFrame;
class QHBoxLayout;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QStackedWidget;

namespace tc {

class ConversationAsking;
class ReadingPosition;
class SessionTranscript;

// The question section above the live transcript: the field and its ask button (a progress bar while asking),
// the answer with its citations, which focus their line, and the error; or, while the responder cannot answer,
// the reason why. Main thread only.
class QuestionPanelView : public QWidget {
    Q_OBJECT
public:
    // Shows and drives `asking`; `transcript` gives the lines a question is about and the citations name, which
    // focus their line in `reading`.
    QuestionPanelView(ConversationAsking& asking, SessionTranscript& transcript, ReadingPosition& reading,
                      QWidget* parent = nullptr);

    QLineEdit* questionField() const { return m_questionField; }
    QPushButton* askButton() const { return m_askButton; }
    // Asks the typed question unless one is being asked or it is blank.
    void submit();

private:
    QHBoxLayout* makeHeader();
    QHBoxLayout* makeInputRow();
    QFrame* makeAnswerBlock();
    void observe();
    void refreshQuestion();
    void refreshAnswer();

    ConversationAsking& m_asking;
    SessionTranscript& m_transcript;
    ReadingPosition& m_reading;
    QWidget* m_unavailable = nullptr;
    QLabel* m_unavailableLabel = nullptr;
    QWidget* m_section = nullptr;
    QLineEdit* m_questionField = nullptr;
    QStackedWidget* m_askStack = nullptr;
    QPushButton* m_askButton = nullptr;
    QProgressBar* m_askProgress = nullptr;
    // The text under the question field: how answers are made, or that the model is loading.
    QLabel* m_note = nullptr;
    QFrame* m_answerBlock = nullptr;
    QLabel* m_answerText = nullptr;
    QWidget* m_citationRow = nullptr;
    QHBoxLayout* m_citationLayout = nullptr;
    QLabel* m_errorLabel = nullptr;
};

} // namespace tc
