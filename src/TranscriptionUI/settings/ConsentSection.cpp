#include "TranscriptionUI/settings/ConsentSection.h"

#include "TranscriptionUI/presentation/CalendarBrowsing.h"
#include "TranscriptionUI/presentation/SourceAccess.h"

#include <QGridLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace tc {

namespace {

using Status = PermissionManager::Status;

QString microphoneState(Status status)
{
    switch (status) {
    case Status::granted: return QStringLiteral("許可済み");
    // Consent is on record, but the sound server offers nothing to record from.
    case Status::denied: return QStringLiteral("許可済み（入力装置が見つかりません）");
    case Status::restricted: return QStringLiteral("許可済み（サウンドサーバーに接続できません）");
    case Status::undetermined: break;
    }
    return QStringLiteral("未許可");
}

QString calendarState(CalendarAuthorizationStatus status)
{
    switch (status) {
    case CalendarAuthorizationStatus::granted: return QStringLiteral("許可済み");
    case CalendarAuthorizationStatus::denied: return QStringLiteral("拒否");
    case CalendarAuthorizationStatus::restricted: return QStringLiteral("使用できません");
    case CalendarAuthorizationStatus::undetermined: break;
    }
    return QStringLiteral("未許可");
}

void showButtons(const auto& row, bool consented)
{
    row.allow->setVisible(!consented);
    row.withdraw->setVisible(consented);
}

} // namespace

ConsentSection::ConsentSection(SourceAccess* sources, CalendarBrowsing* calendar, QWidget* parent)
    : QWidget(parent), m_sources(sources), m_calendar(calendar)
{
    setObjectName(QStringLiteral("consentSection"));
    auto* layout = new QVBoxLayout(this);
    auto* intro = new QLabel(QStringLiteral("このアプリが使ってよいものです。取り消すとすぐに使うのをやめ、"
                                            "もう一度許可するまで使いません。"),
                             this);
    intro->setWordWrap(true);
    layout->addWidget(intro);
    auto* grid = new QGridLayout;
    m_microphone = addRow(grid, 0, QStringLiteral("マイク"), QStringLiteral("microphone"));
    m_systemAudio = addRow(grid, 1, QStringLiteral("システム音声"), QStringLiteral("systemAudio"));
    m_speech = addRow(grid, 2, QStringLiteral("音声認識"), QStringLiteral("speechRecognition"));
    m_calendarRow = addRow(grid, 3, QStringLiteral("カレンダー"), QStringLiteral("calendar"));
    grid->setColumnStretch(1, 1);
    layout->addLayout(grid);
    layout->addStretch();

    connect(m_microphone.allow, &QPushButton::clicked, this, [this] { m_sources->requestMicrophone(); });
    connect(m_microphone.withdraw, &QPushButton::clicked, this, [this] { m_sources->withdrawMicrophone(); });
    connect(m_systemAudio.allow, &QPushButton::clicked, this, [this] { m_sources->requestSystemAudio(); });
    connect(m_systemAudio.withdraw, &QPushButton::clicked, this, [this] { m_sources->withdrawSystemAudio(); });
    connect(m_speech.allow, &QPushButton::clicked, this, [this] { m_sources->requestSpeechRecognition(); });
    connect(m_speech.withdraw, &QPushButton::clicked, this, [this] { m_sources->withdrawSpeechRecognition(); });
    connect(m_calendarRow.allow, &QPushButton::clicked, this, [this] { m_calendar->requestAccess(); });
    connect(m_calendarRow.withdraw, &QPushButton::clicked, this, [this] { m_calendar->withdrawAccess(); });

    for (auto signal : {&SourceAccess::micStatusChanged, &SourceAccess::speechStatusChanged,
                        &SourceAccess::systemAudioGrantedChanged, &SourceAccess::systemAudioRequestedChanged})
        connect(m_sources, signal, this, &ConsentSection::showStates);
    connect(m_calendar, &CalendarBrowsing::statusChanged, this, &ConsentSection::showStates);
    showStates();
}

ConsentSection::Row ConsentSection::addRow(QGridLayout* grid, int row, const QString& name, const QString& objectName)
{
    Row made;
    made.state = new QLabel(this);
    made.state->setObjectName(objectName + QStringLiteral("State"));
    made.allow = new QPushButton(QStringLiteral("許可する"), this);
    made.allow->setObjectName(objectName + QStringLiteral("Allow"));
    made.withdraw = new QPushButton(QStringLiteral("許可を取り消す"), this);
    made.withdraw->setObjectName(objectName + QStringLiteral("Withdraw"));
    grid->addWidget(new QLabel(name, this), row, 0);
    grid->addWidget(made.state, row, 1);
    grid->addWidget(made.allow, row, 2);
    grid->addWidget(made.withdraw, row, 3);
    return made;
}

void ConsentSection::showStates()
{
    const Status mic = m_sources->micStatus();
    m_microphone.state->setText(microphoneState(mic));
    showButtons(m_microphone, mic != Status::undetermined);

    const bool systemAudio = m_sources->systemAudioConsented();
    m_systemAudio.state->setText(!systemAudio                     ? QStringLiteral("未許可")
                                 : m_sources->systemAudioGranted() ? QStringLiteral("許可済み")
                                                                   : QStringLiteral("許可済み（出力装置が見つかりません）"));
    showButtons(m_systemAudio, systemAudio);

    const Status speech = m_sources->speechStatus();
    m_speech.state->setText(speech == Status::granted ? QStringLiteral("許可済み") : QStringLiteral("未許可"));
    showButtons(m_speech, speech != Status::undetermined);

    const auto calendar = m_calendar->status();
    m_calendarRow.state->setText(calendarState(calendar));
    showButtons(m_calendarRow, calendar != CalendarAuthorizationStatus::undetermined);
}

} // namespace tc
