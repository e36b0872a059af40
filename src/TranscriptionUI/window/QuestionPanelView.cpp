#include "TranscriptionUI/window/QuestionPanelView.h"

#include "TranscriptionDomain/DomainGlossary.h"
#include "TranscriptionUI/presentation/ConversationAsking.h"
#include "TranscriptionUI/presentation/ReadingPosition.h"
#include "TranscriptionUI/presentation/SessionTranscript.h"
#include "TranscriptionUI/window/SectionWidgets.h"
#include "TranscriptionUI/window/SymbolIcon.h"
#include "TranscriptionUI/window/TranscriptLineListModel.h"
#include "TranscriptionUI/window/ViewStyle.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QStackedWidget>
#include <QToolButton>
#include <QVBoxLayout>

namespace tc {

namespace {

QString qs(const std::string& text)
{
    return QString::fromStdString(text);
}

} // namespace

QuestionPanelView::QuestionPanelView(ConversationAsking& asking, SessionTranscript& transcript,
                                     ReadingPosition& reading, QWidget* parent)
    : QWidget(parent), m_asking(asking), m_transcript(transcript), m_reading(reading)
{
    auto* wrapperLayout = new QVBoxLayout(this);
    wrapperLayout->setContentsMargins(0, 0, 0, 0);

    m_unavailable = section::iconLabel(QStringLiteral("info.circle"), QString(), ViewStyle::caption(font()),
                                       ViewStyle::secondary(palette()), this, &m_unavailableLabel);
    wrapperLayout->addWidget(m_unavailable);

    m_section = new QWidget(this);
    auto* layout = new QVBoxLayout(m_section);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(6);
    layout->addLayout(makeHeader());
    layout->addLayout(makeInputRow());
    m_note = new QLabel(qs(DomainGlossary::askBeta().note), m_section);
    m_note->setFont(ViewStyle::caption(font()));
    m_note->setStyleSheet(section::colorStyle(ViewStyle::secondary(palette())));
    // One line that never widens the window; the whole note is its tooltip.
    m_note->setWordWrap(false);
    m_note->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    layout->addWidget(m_note);
    layout->addWidget(makeAnswerBlock());
    m_errorLabel = new QLabel(m_section);
    m_errorLabel->setFont(ViewStyle::caption(font()));
    m_errorLabel->setStyleSheet(section::colorStyle(ViewStyle::orange()));
    m_errorLabel->setWordWrap(true);
    layout->addWidget(m_errorLabel);
    wrapperLayout->addWidget(m_section);

    observe();
}

QHBoxLayout* QuestionPanelView::makeHeader()
{
    const GlossaryTerm& ask = DomainGlossary::ask();
    const BetaBadge& beta = DomainGlossary::askBeta();
    auto* header = new QHBoxLayout();
    header->setSpacing(6);
    auto* title = new QLabel(QStringLiteral("今の会話に") + qs(ask.label), m_section);
    title->setFont(ViewStyle::subheadline(font()));
    title->setStyleSheet(section::colorStyle(ViewStyle::secondary(palette())));
    auto* badge = new QLabel(qs(beta.label), m_section);
    QFont badgeFont = ViewStyle::caption2(font());
    badgeFont.setWeight(QFont::DemiBold);
    badge->setFont(badgeFont);
    badge->setStyleSheet(QStringLiteral("color: %1; background: %2; border-radius: 8px; padding: 2px 6px;")
                             .arg(ViewStyle::css(ViewStyle::orange()),
                                  ViewStyle::css(ViewStyle::withOpacity(ViewStyle::orange(), 0.18))));
    badge->setToolTip(qs(beta.note));
    badge->setAccessibleName(qs(ask.label) + QStringLiteral("は") + qs(beta.label) + QStringLiteral("機能です"));
    header->addWidget(title);
    header->addWidget(badge);
    header->addStretch(1);

    return header;
}

QHBoxLayout* QuestionPanelView::makeInputRow()
{
    const GlossaryTerm& ask = DomainGlossary::ask();
    auto* input = new QHBoxLayout();
    input->setSpacing(8);
    m_questionField = new QLineEdit(m_section);
    m_questionField->setPlaceholderText(QStringLiteral("今の会話に") + qs(ask.label) +
                                        QStringLiteral("（例: さっきの“例の件”って？）"));
    m_questionField->setClearButtonEnabled(true);
    m_questionField->setAttribute(Qt::WA_InputMethodEnabled);
    connect(m_questionField, &QLineEdit::textEdited, this,
            [this](const QString& text) { m_asking.setQuestion(text.toStdString()); });
    connect(m_questionField, &QLineEdit::returnPressed, this, &QuestionPanelView::submit);
    m_askStack = new QStackedWidget(m_section);
    m_askButton = new QPushButton(SymbolIcon::icon(QStringLiteral("sparkles")), qs(ask.label), m_askStack);
    m_askButton->setToolTip(qs(ask.meaning));
    connect(m_askButton, &QPushButton::clicked, this, &QuestionPanelView::submit);
    m_askProgress = new QProgressBar(m_askStack);
    m_askProgress->setRange(0, 0);
    m_askProgress->setTextVisible(false);
    m_askProgress->setMaximumWidth(m_askButton->sizeHint().width());
    m_askProgress->setAccessibleName(QStringLiteral("回答を待っています"));
    m_askStack->addWidget(m_askButton);
    m_askStack->addWidget(m_askProgress);
    m_askStack->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    m_askStack->setFixedSize(m_askButton->sizeHint());
    input->addWidget(m_questionField, 1);
    input->addWidget(m_askStack);
    return input;
}

QFrame* QuestionPanelView::makeAnswerBlock()
{
    m_answerBlock = new QFrame(m_section);
    m_answerBlock->setObjectName(QStringLiteral("answerBlock"));
    m_answerBlock->setStyleSheet(QStringLiteral("#answerBlock { background: %1; border-radius: 6px; }")
                                     .arg(ViewStyle::css(ViewStyle::withOpacity(ViewStyle::accent(palette()), 0.08))));
    auto* answerLayout = new QVBoxLayout(m_answerBlock);
    answerLayout->setContentsMargins(8, 8, 8, 8);
    answerLayout->setSpacing(6);
    m_answerText = new QLabel(m_answerBlock);
    m_answerText->setFont(ViewStyle::callout(font()));
    m_answerText->setTextFormat(Qt::PlainText);
    m_answerText->setWordWrap(true);
    m_answerText->setTextInteractionFlags(Qt::TextSelectableByMouse);
    answerLayout->addWidget(m_answerText);
    m_citationRow = new QWidget(m_answerBlock);
    m_citationLayout = new QHBoxLayout(m_citationRow);
    m_citationLayout->setContentsMargins(0, 0, 0, 0);
    m_citationLayout->setSpacing(6);
    answerLayout->addWidget(m_citationRow);
    return m_answerBlock;
}

void QuestionPanelView::observe()
{
    for (auto signal : {&ConversationAsking::availableChanged, &ConversationAsking::unavailableReasonChanged,
                        &ConversationAsking::noteChanged, &ConversationAsking::isAskingChanged,
                        &ConversationAsking::questionChanged})
        connect(&m_asking, signal, this, &QuestionPanelView::refreshQuestion);
    for (auto signal : {&ConversationAsking::answerChanged, &ConversationAsking::errorChanged})
        connect(&m_asking, signal, this, &QuestionPanelView::refreshAnswer);
    // Citations name lines of the session, so they follow its lines as well as the answer.
    connect(&m_transcript, &SessionTranscript::linesChanged, this, &QuestionPanelView::refreshAnswer);
    refreshQuestion();
    refreshAnswer();
}

void QuestionPanelView::refreshQuestion()
{
    const bool available = m_asking.available();
    const auto& reason = m_asking.unavailableReason();
    m_section->setVisible(available);
    const auto& note = m_asking.note();
    const QString full = note.empty() ? qs(DomainGlossary::askBeta().note) : qs(note);
    // The first sentence says what the answers are; how to change that is the detail behind it.
    const qsizetype end = full.indexOf(QChar(0x3002));
    const bool more = end >= 0 && end + 1 < full.size();
    m_note->setText(more ? full.left(end + 1) + QStringLiteral(" ⓘ") : full);
    m_note->setToolTip(more ? full : QString());
    m_note->setAccessibleDescription(full);
    m_unavailable->setVisible(!available && reason.has_value());
    if (!available && reason)
        m_unavailableLabel->setText(QStringLiteral("「") + qs(DomainGlossary::ask().label) +
                                    QStringLiteral("」は使えません: ") + qs(*reason));
    const QString question = qs(m_asking.question());
    if (m_questionField->text() != question) m_questionField->setText(question);
    const bool asking = m_asking.isAsking();
    m_askStack->setCurrentWidget(asking ? static_cast<QWidget*>(m_askProgress) : m_askButton);
    m_askButton->setEnabled(!asking && !question.trimmed().isEmpty());
}

void QuestionPanelView::refreshAnswer()
{
    const auto& answer = m_asking.answer();
    m_answerBlock->setVisible(answer.has_value());
    section::clearLayout(m_citationLayout);
    if (answer) {
        m_answerText->setText(qs(answer->text));
        bool anyCitation = false;
        auto* label = new QLabel(QStringLiteral("根拠:"), m_citationRow);
        label->setFont(ViewStyle::caption(font()));
        label->setStyleSheet(section::colorStyle(ViewStyle::secondary(palette())));
        m_citationLayout->addWidget(label);
        for (const Uuid& id : answer->sourceLineIDs) {
            const std::optional<FinalizedLine> line = m_transcript.line(id);
            if (!line) continue;
            anyCitation = true;
            QToolButton* button =
                section::borderlessButton(QString(), TranscriptLineListModel::formatTime(line->time), m_citationRow);
            button->setToolTip(qs(line->text));
            connect(button, &QToolButton::clicked, this, [this, id] { m_reading.focusLine(id); });
            m_citationLayout->addWidget(button);
        }
        m_citationLayout->addStretch(1);
        m_citationRow->setVisible(anyCitation);
    }
    const auto& error = m_asking.error();
    m_errorLabel->setVisible(error.has_value());
    if (error) m_errorLabel->setText(qs(*error));
}

void QuestionPanelView::submit()
{
    if (m_asking.isAsking() || QString::fromStdString(m_asking.question()).trimmed().isEmpty()) return;
    m_asking.ask(m_transcript.lines());
}

} // namespace tc
