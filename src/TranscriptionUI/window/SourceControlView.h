#pragma once

#include "TranscriptionDomain/AudioSourceID.h"
#include "TranscriptionUI/presentation/SourceAccess.h"

#include <QWidget>

class QLabel;
class QPushButton;

namespace tc {

class ToggleSwitch;

// One source's control in the control bar, in the form its access state calls for: a "cannot be used" label,
// a button to the settings, an allow button, or an on/off switch bound to the source's opt-in flag.
class SourceControlView : public QWidget {
    Q_OBJECT
public:
    // Shows and changes the source's access in `access`.
    SourceControlView(AudioSourceID source, SourceAccess& access, QWidget* parent = nullptr);

    // The form now shown.
    SourceAccessState::Kind form() const { return m_form; }
    QLabel* restrictedLabel() const { return m_restricted; }
    QPushButton* settingsButton() const { return m_settings; }
    QPushButton* allowButton() const { return m_allow; }
    ToggleSwitch* toggle() const { return m_toggle; }

private:
    void refresh();
    QString label() const;

    AudioSourceID m_source;
    SourceAccess& m_access;
    SourceAccessState::Kind m_form = SourceAccessState::Kind::undetermined;
    QLabel* m_restricted;
    QPushButton* m_settings;
    QPushButton* m_allow;
    ToggleSwitch* m_toggle;
};

} // namespace tc
