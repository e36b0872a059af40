#pragma once

#include "TranscriptionDomain/AudioSourceID.h"

#include <QWidget>

#include <vector>

class QHBoxLayout;
class QLabel;
class QPushButton;
class QToolButton;

namespace tc {

class RunControl;
class SourceAccess;
class SourceControlView;
class WaveformView;

// The bar above the transcript: the pause/resume button, the two sources' controls, "文字起こし中" with one
// waveform per running source, the font size buttons, export and clear. The last four only show their buttons;
// the window acts on them and enables them. Main thread only.
class ControlBarView : public QWidget {
    Q_OBJECT
public:
    // Drives `run`; the sources' controls show `sources`.
    ControlBarView(RunControl& run, SourceAccess& sources, QWidget* parent = nullptr);

    QPushButton* runButton() const { return m_runButton; }
    SourceControlView* sourceControl(AudioSourceID source) const;
    const std::vector<WaveformView*>& waveforms() const { return m_waveforms; }
    QLabel* runningLabel() const { return m_runningLabel; }
    QToolButton* smallerButton() const { return m_smallerButton; }
    QToolButton* largerButton() const { return m_largerButton; }
    QPushButton* exportButton() const { return m_exportButton; }
    QPushButton* clearButton() const { return m_clearButton; }

private:
    void refreshRunControls();
    void refreshWaveforms();

    RunControl& m_run;
    SourceAccess& m_sources;
    QPushButton* m_runButton = nullptr;
    SourceControlView* m_micControl = nullptr;
    SourceControlView* m_systemAudioControl = nullptr;
    QWidget* m_runningBox = nullptr;
    QLabel* m_runningLabel = nullptr;
    QHBoxLayout* m_waveformLayout = nullptr;
    std::vector<WaveformView*> m_waveforms;
    QToolButton* m_smallerButton = nullptr;
    QToolButton* m_largerButton = nullptr;
    QPushButton* m_exportButton = nullptr;
    QPushButton* m_clearButton = nullptr;
};

} // namespace tc
