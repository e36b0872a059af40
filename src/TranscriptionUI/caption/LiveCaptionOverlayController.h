#pragma once

#include "TranscriptionDomain/LiveCaptionContent.h"

#include <QObject>
#include <QRect>
#include <QSize>
#include <QString>

namespace tc {

class LiveCaptionOverlayModel;
class LiveCaptionOverlayPanel;
class PreferencesStore;

// Owns the caption panel of one main window: creates it on first show, places it, shows and hides it
// without activating the application, and hands it new caption content and the font size the user chose.
// Main thread only.
class LiveCaptionOverlayController : public QObject {
    Q_OBJECT
public:
    static inline const QString visibilityDefaultsKey = QStringLiteral("liveCaptionOverlayVisible");
    static inline const QString frameAutosaveName = QStringLiteral("LiveCaptionOverlayPanel");
    // Whether caption lines show who spoke them; off unless the user turned it on.
    static inline const QString showSpeakerDefaultsKey = QStringLiteral("caption/showSpeaker");
    // The caption's font size in points; absent: the size follows the panel's width.
    static inline const QString fontSizeDefaultsKey = QStringLiteral("caption/fontSize");
    static constexpr QSize defaultSize{720, 180};

    // No panel is created yet. The close button writes false under visibilityDefaultsKey.
    explicit LiveCaptionOverlayController(PreferencesStore* defaults, QObject* parent = nullptr);
    ~LiveCaptionOverlayController() override;

    // true shows the panel (creating it first), false hides it when it exists.
    void setVisible(bool visible);
    void update(const LiveCaptionContent& content);
    // Moves the panel back to its default frame on the primary screen and remembers it; without a panel yet,
    // forgets the saved frame so the first show uses the default.
    void resetFrame();

    LiveCaptionOverlayModel* model() const { return m_model; }
    // Null until the first setVisible(true).
    LiveCaptionOverlayPanel* panel() const { return m_panel; }
    // Horizontally centred, its bottom 12 % of the area's height above the area's bottom edge.
    static QRect defaultFrame(const QRect& availableGeometry, QSize size);

private:
    void makePanel();
    void applyFontSize();

    PreferencesStore* m_defaults;
    LiveCaptionOverlayModel* m_model;
    LiveCaptionOverlayPanel* m_panel = nullptr;
};

} // namespace tc
