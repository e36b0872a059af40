#include "TranscriptionUI/window/SourceControlView.h"

#include "TranscriptionUI/window/SymbolIcon.h"
#include "TranscriptionUI/window/ToggleSwitch.h"
#include "TranscriptionUI/window/ViewStyle.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>

namespace tc {

SourceControlView::SourceControlView(AudioSourceID source, SourceAccess& access, QWidget* parent)
    : QWidget(parent), m_source(source), m_access(access)
{
    const QString symbol =
        source == AudioSourceID::microphone ? QStringLiteral("mic") : QStringLiteral("speaker.wave.2");
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);

    m_restricted = new QLabel(this);
    m_restricted->setText(label() + QStringLiteral("は利用できません"));
    m_restricted->setStyleSheet(QStringLiteral("color: %1").arg(ViewStyle::css(ViewStyle::secondary(palette()))));
    auto* lockIcon = new QLabel(this);
    lockIcon->setPixmap(SymbolIcon::fallback(QStringLiteral("lock"), ViewStyle::secondary(palette())).pixmap(14, 14));
    auto* restrictedRow = new QWidget(this);
    auto* restrictedLayout = new QHBoxLayout(restrictedRow);
    restrictedLayout->setContentsMargins(0, 0, 0, 0);
    restrictedLayout->setSpacing(4);
    lockIcon->setParent(restrictedRow);
    m_restricted->setParent(restrictedRow);
    restrictedLayout->addWidget(lockIcon);
    restrictedLayout->addWidget(m_restricted);

    m_settings =
        new QPushButton(SymbolIcon::icon(QStringLiteral("gearshape")), label() + QStringLiteral("を再確認"), this);
    // Linux has no privacy pane: "denied" means consent was given but the sound server has no such device.
    m_settings->setToolTip(
        label() +
        QStringLiteral(
            "の装置が見つかりません。装置をつなぎ、サウンドサーバーが動いていることを確認してから押してください"));
    m_allow = new QPushButton(SymbolIcon::icon(symbol), label() + QStringLiteral("を許可"), this);
    m_allow->setToolTip(label() + QStringLiteral("へのアクセスを許可します"));
    m_toggle = new ToggleSwitch(SymbolIcon::icon(symbol), label(), this);
    m_toggle->setAccessibleName(label());

    layout->addWidget(restrictedRow);
    layout->addWidget(m_settings);
    layout->addWidget(m_allow);
    layout->addWidget(m_toggle);

    // This platform has no privacy pane: the settings button repeats the in-app request, as the allow button does.
    for (QPushButton* button : {m_settings, m_allow})
        connect(button, &QPushButton::clicked, this, [this] {
            if (m_source == AudioSourceID::microphone)
                m_access.requestMicrophone();
            else
                m_access.requestSystemAudio();
        });
    connect(m_toggle, &ToggleSwitch::clicked, this, [this](bool checked) {
        if (m_source == AudioSourceID::microphone)
            m_access.setOptInMic(checked);
        else
            m_access.setOptInSystemAudio(checked);
    });

    for (auto signal : {&SourceAccess::micStatusChanged, &SourceAccess::systemAudioGrantedChanged,
                        &SourceAccess::systemAudioRequestedChanged, &SourceAccess::optInMicChanged,
                        &SourceAccess::optInSystemAudioChanged})
        connect(&m_access, signal, this, &SourceControlView::refresh);
    refresh();
}

QString SourceControlView::label() const
{
    return m_source == AudioSourceID::microphone ? QStringLiteral("マイク") : QStringLiteral("システム音声");
}

void SourceControlView::refresh()
{
    const SourceAccessState state = m_access.accessState(m_source);
    m_form = state.kind;
    m_restricted->parentWidget()->setVisible(state.kind == SourceAccessState::Kind::restricted);
    m_settings->setVisible(state.kind == SourceAccessState::Kind::denied);
    m_allow->setVisible(state.kind == SourceAccessState::Kind::undetermined);
    m_toggle->setVisible(state.kind == SourceAccessState::Kind::granted);
    m_toggle->setChecked(state.kind == SourceAccessState::Kind::granted && state.enabled);
}

} // namespace tc
