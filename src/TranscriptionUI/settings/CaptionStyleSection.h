#pragma once

#include "TranscriptionUI/caption/LiveCaptionStyleSettings.h"

#include <QWidget>

class QCheckBox;
class QColorDialog;
class QComboBox;
class QFrame;
class QLabel;
class QPushButton;
class QSpinBox;

namespace tc {

class LiveCaptionOverlayModel;
class LiveCaptionOverlayView;
class PreferencesStore;

// The caption panel's look on the "字幕パネル" page: presets, font, colours, background opacity, outline or
// shadow, lines, width, alignment and hiding when idle, with a preview of sample final and volatile text drawn
// by the panel's own view. Every choice is stored at once; the panel and the controls follow the stored values.
class CaptionStyleSection : public QWidget {
    Q_OBJECT
public:
    explicit CaptionStyleSection(PreferencesStore* preferences, QWidget* parent = nullptr);

    LiveCaptionOverlayView* preview() const { return m_preview; }

private:
    // Each group of controls, wired to the settings; made in the order Tab visits them.
    void makeTextControls();
    void makeColorControls();
    void makePanelControls();
    // The preview on its backdrop, which is returned.
    QFrame* makePreview();
    void layOut(QFrame* backdrop);
    void showStored();
    void showPreview();
    void chooseColor(bool forText);
    QPushButton* colorButton(const QString& objectName);

    PreferencesStore* m_preferences;
    LiveCaptionStyleSettings m_settings;
    QComboBox* m_preset;
    QLabel* m_presetChanged;
    QComboBox* m_fontFamily;
    QSpinBox* m_fontSize;
    QPushButton* m_textColor;
    QPushButton* m_backgroundColor;
    QSpinBox* m_backgroundOpacity;
    QComboBox* m_outline;
    QSpinBox* m_lines;
    QCheckBox* m_widthFromScreen;
    QSpinBox* m_widthPercent;
    QComboBox* m_alignment;
    QCheckBox* m_autoHide;
    QSpinBox* m_autoHideSeconds;
    QColorDialog* m_colorDialog = nullptr;
    LiveCaptionOverlayModel* m_previewModel;
    LiveCaptionOverlayView* m_preview;
};

} // namespace tc
