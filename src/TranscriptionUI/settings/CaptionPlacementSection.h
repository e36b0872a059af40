#pragma once

#include <QWidget>

class QCheckBox;
class QComboBox;

namespace tc {

class PreferencesStore;

// The caption panel's placement on the "字幕パネル" page: floating or docked at the top or bottom edge, the
// screen it is on, and whether clicks pass through it. Each choice is written at once and the panel follows;
// choices made elsewhere (the panel's menu, the "字幕" menu) show here too.
class CaptionPlacementSection : public QWidget {
    Q_OBJECT
public:
    explicit CaptionPlacementSection(PreferencesStore* preferences, QWidget* parent = nullptr);

private:
    void showChoices();
    void fillScreens();

    PreferencesStore* m_preferences;
    QComboBox* m_placement;
    QComboBox* m_screen;
    QCheckBox* m_clickThrough;
};

} // namespace tc
