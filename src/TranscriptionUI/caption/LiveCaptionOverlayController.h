#pragma once

#include "TranscriptionDomain/LiveCaptionContent.h"
#include "TranscriptionInfrastructure/settings/SettingKeys.h"
#include "TranscriptionUI/caption/LiveCaptionIdleHider.h"
#include "TranscriptionUI/caption/LiveCaptionStyleSettings.h"

#include <QObject>
#include <QRect>
#include <QSize>
#include <QString>
#include <memory>

class QScreen;

namespace tc {

class LiveCaptionOverlayModel;
class LiveCaptionOverlayPanel;
class PreferencesStore;
class XcbStrutWindow;

// Owns the caption panel of one main window: creates it on first show, places it, shows and hides it
// without activating the application, and hands it new caption content and the look the user chose, which it
// follows as soon as it changes. When the user asks for it, the caption disappears after a while without new
// text and comes back with the next. Main thread only.
class LiveCaptionOverlayController : public QObject {
    Q_OBJECT
public:
    static inline const QString visibilityDefaultsKey = QString(settingKeys::captionVisible);
    static inline const QString frameAutosaveName = QStringLiteral("LiveCaptionOverlayPanel");
    // Whether caption lines show who spoke them; off unless the user turned it on.
    static inline const QString showSpeakerDefaultsKey = QString(settingKeys::captionShowSpeaker);
    // The caption's font size in points; absent: the size follows the panel's width.
    static inline const QString& fontSizeDefaultsKey = LiveCaptionStyleSettings::fontSizeKey;
    // "floating" (where it was dragged), "top" or "bottom" (docked along that edge of the chosen screen, the strip
    // kept free of other windows where the window manager allows); anything else reads as floating.
    static inline const QString placementDefaultsKey = QString(settingKeys::captionPlacement);
    // The name of the screen the panel is placed on; empty or a screen that is gone: the primary one.
    static inline const QString screenDefaultsKey = QString(settingKeys::captionScreen);
    // Whether clicks pass through the panel to the windows below.
    static inline const QString clickThroughDefaultsKey = QString(settingKeys::captionClickThrough);
    static constexpr QSize defaultSize{720, 180};

    enum class Placement { floating, top, bottom };
    static Placement placementOf(const QString& stored);
    static QString placementName(Placement placement);

    // No panel is created yet. The close button writes false under visibilityDefaultsKey. The idle timing is
    // the steady clock and a timer unless a test passes its own.
    explicit LiveCaptionOverlayController(PreferencesStore* defaults, QObject* parent = nullptr,
                                          LiveCaptionIdleHider::Timing idleTiming = {});
    ~LiveCaptionOverlayController() override;

    // true shows the panel (creating it first), false hides it when it exists.
    void setVisible(bool visible);
    // New content; while the caption is hidden for being idle, content with text shows it again.
    void update(const LiveCaptionContent& content);
    // Whether the caption is hidden now for having had no new text for the chosen time.
    bool isIdleHidden() const { return m_idle->isHidden(); }
    // The idle hiding's wake-up is due (its timing calls this, or a test).
    void idleWakeUpDue() { m_idle->wake(); }
    // Moves the panel back to its default frame on the primary screen and remembers it; without a panel yet,
    // forgets the saved frame so the first show uses the default.
    void resetFrame();

    LiveCaptionOverlayModel* model() const { return m_model; }
    // Null until the first setVisible(true).
    LiveCaptionOverlayPanel* panel() const { return m_panel; }
    // Horizontally centred, its bottom 12 % of the area's height above the area's bottom edge.
    static QRect defaultFrame(const QRect& availableGeometry, QSize size);
    // The panel's size on a screen of that area: the chosen share of its width (else the default width), and
    // at least the default height, taller when the chosen lines need it (the default height without a panel).
    QSize panelSize(const QRect& availableGeometry) const;
    // The whole width of the screen, height tall, along the placement's edge; the screen itself when floating.
    static QRect dockedFrame(const QRect& screenGeometry, Placement placement, int height);

    Placement placement() const;
    // The screen named under screenDefaultsKey, else the primary one; null without any screen.
    QScreen* chosenScreen() const;
    // Whether a strip is asked to be kept free now (docked, shown, under X11).
    bool isReservingStrip() const;

private:
    void makePanel();
    void applyStyle();
    void showContent();
    // Gives a floating panel its size for the chosen width and lines, keeping its centre and bottom edge on screen.
    void applyPanelSize();
    // Puts the panel where the placement and the screen say, and reserves or gives back the docked strip; a floating
    // panel moves to a newly chosen screen.
    void applyPlacement(bool screenChanged = false);
    void applyClickThrough();

    PreferencesStore* m_defaults;
    LiveCaptionStyleSettings m_settings;
    LiveCaptionOverlayModel* m_model;
    LiveCaptionIdleHider* m_idle;
    // The last content handed in, shown unless the caption is idle.
    LiveCaptionContent m_latest;
    LiveCaptionOverlayPanel* m_panel = nullptr;
    std::unique_ptr<XcbStrutWindow> m_strut;
};

} // namespace tc
