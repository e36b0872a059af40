#include "TranscriptionUI/window/ControlBarView.h"

#include "TranscriptionUI/presentation/RunControl.h"
#include "TranscriptionUI/presentation/SourceAccess.h"
#include "TranscriptionUI/window/SectionWidgets.h"
#include "TranscriptionUI/window/SourceControlView.h"
#include "TranscriptionUI/window/SymbolIcon.h"
#include "TranscriptionUI/window/ViewStyle.h"
#include "TranscriptionUI/window/WaveformView.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QToolButton>

namespace tc {

namespace {

constexpr float kSilenceThreshold = 0.02f;

} // namespace

ControlBarView::ControlBarView(RunControl& run, SourceAccess& sources, QWidget* parent)
    : QWidget(parent), m_run(run), m_sources(sources)
{
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(12, 12, 12, 12);
    layout->setSpacing(12);

    m_runButton = new QPushButton(this);
    connect(m_runButton, &QPushButton::clicked, this, [this] {
        if (m_run.isRunning())
            m_run.pause();
        else
            m_run.resume();
    });
    layout->addWidget(m_runButton);

    m_micControl = new SourceControlView(AudioSourceID::microphone, m_sources, this);
    m_systemAudioControl = new SourceControlView(AudioSourceID::systemAudio, m_sources, this);
    layout->addWidget(m_micControl);
    layout->addWidget(m_systemAudioControl);

    m_runningBox = new QWidget(this);
    m_waveformLayout = new QHBoxLayout(m_runningBox);
    m_waveformLayout->setContentsMargins(0, 0, 0, 0);
    m_waveformLayout->setSpacing(12);
    m_runningLabel = new QLabel(QStringLiteral("文字起こし中"), m_runningBox);
    m_runningLabel->setStyleSheet(section::colorStyle(ViewStyle::secondary(palette())));
    m_waveformLayout->addWidget(m_runningLabel);
    layout->addWidget(m_runningBox);

    layout->addStretch(1);

    auto* fontButtons = new QWidget(this);
    auto* fontLayout = new QHBoxLayout(fontButtons);
    fontLayout->setContentsMargins(0, 0, 0, 0);
    fontLayout->setSpacing(4);
    m_smallerButton = new QToolButton(fontButtons);
    m_smallerButton->setIcon(SymbolIcon::icon(QStringLiteral("textformat.size.smaller")));
    m_smallerButton->setToolTip(QStringLiteral("文字サイズを変更"));
    m_smallerButton->setAccessibleName(QStringLiteral("文字を小さく"));
    m_largerButton = new QToolButton(fontButtons);
    m_largerButton->setIcon(SymbolIcon::icon(QStringLiteral("textformat.size.larger")));
    m_largerButton->setToolTip(QStringLiteral("文字サイズを変更"));
    m_largerButton->setAccessibleName(QStringLiteral("文字を大きく"));
    fontLayout->addWidget(m_smallerButton);
    fontLayout->addWidget(m_largerButton);
    layout->addWidget(fontButtons);

    m_exportButton = new QPushButton(QStringLiteral("エクスポート"), this);
    layout->addWidget(m_exportButton);
    m_clearButton = new QPushButton(QStringLiteral("記録を消去"), this);
    layout->addWidget(m_clearButton);

    for (auto signal : {&RunControl::isRunningChanged, &RunControl::isPausedChanged})
        connect(&m_run, signal, this, &ControlBarView::refreshRunControls);
    for (auto signal :
         {&SourceAccess::speechStatusChanged, &SourceAccess::micStatusChanged, &SourceAccess::systemAudioGrantedChanged,
          &SourceAccess::optInMicChanged, &SourceAccess::optInSystemAudioChanged})
        connect(&m_sources, signal, this, &ControlBarView::refreshRunControls);
    for (auto signal : {&RunControl::activeSourcesChanged, &RunControl::levelHistoryChanged})
        connect(&m_run, signal, this, &ControlBarView::refreshWaveforms);
    refreshRunControls();
    refreshWaveforms();
}

SourceControlView* ControlBarView::sourceControl(AudioSourceID source) const
{
    return source == AudioSourceID::microphone ? m_micControl : m_systemAudioControl;
}

void ControlBarView::refreshRunControls()
{
    if (m_run.isRunning()) {
        m_runButton->setText(QStringLiteral("一時停止"));
        m_runButton->setVisible(true);
    } else if (m_run.isPaused() || (m_run.runGeneration() > 0 && m_sources.canStart())) {
        // A run that ended by itself (given up, refused) is started again by hand, as its last notice says.
        m_runButton->setText(QStringLiteral("再開"));
        m_runButton->setVisible(true);
    } else {
        m_runButton->setVisible(false);
    }
    m_runningBox->setVisible(m_run.isRunning());
}

void ControlBarView::refreshWaveforms()
{
    const auto& sources = m_run.activeSources();
    bool sameSources = sources.size() == m_waveforms.size();
    for (std::size_t i = 0; sameSources && i < sources.size(); ++i)
        sameSources = m_waveforms[i]->id() == sources[i];
    if (!sameSources) {
        for (WaveformView* view : m_waveforms)
            view->deleteLater();
        m_waveforms.clear();
        for (AudioSourceID source : sources) {
            auto* view = new WaveformView(source, m_runningBox);
            m_waveformLayout->addWidget(view);
            m_waveforms.push_back(view);
        }
    }
    const auto& history = m_run.levelHistory();
    for (WaveformView* view : m_waveforms) {
        const auto entry = history.find(view->id());
        view->setInputs(entry == history.end() ? std::vector<float>{} : entry->second, true, kSilenceThreshold);
    }
}

} // namespace tc
