#pragma once

#include "TranscriptionDomain/LiveCaptionPreset.h"
#include "TranscriptionDomain/LiveCaptionStyle.h"
#include "TranscriptionInfrastructure/settings/SettingKeys.h"

#include <QColor>
#include <QString>
#include <optional>

namespace tc {

class PreferencesStore;

// The caption panel's look, width and idle hiding as kept in the preferences under "caption/...": read into the
// domain's style (a missing or unusable value gives the standard one), written one choice at a time. Every
// write goes through the store, so the panel and the preview hear it at once. Main thread only.
class LiveCaptionStyleSettings {
public:
    // The font size in points; absent: the size follows the panel's width.
    static inline const QString fontSizeKey = QString(settingKeys::captionFontSize);
    static inline const QString fontFamilyKey = QString(settingKeys::captionFontFamily);
    // "#rrggbb"
    static inline const QString textColorKey = QString(settingKeys::captionTextColor);
    static inline const QString backgroundColorKey = QString(settingKeys::captionBackgroundColor);
    // Whole percent, 0 to 100.
    static inline const QString backgroundOpacityKey = QString(settingKeys::captionBackgroundOpacity);
    // "none", "outline" or "shadow".
    static inline const QString outlineKey = QString(settingKeys::captionOutline);
    // 1 to 5.
    static inline const QString linesKey = QString(settingKeys::captionLines);
    // The panel's width as a percentage of its screen's width; absent: the panel's standard width.
    static inline const QString widthPercentKey = QString(settingKeys::captionWidthPercent);
    // "left", "center" or "right".
    static inline const QString alignmentKey = QString(settingKeys::captionAlignment);
    // The preset chosen last ("standard", "highContrast", "yellowText", "noBackground"); single choices made
    // afterwards are kept beside it.
    static inline const QString presetKey = QString(settingKeys::captionPreset);
    static inline const QString autoHideKey = QString(settingKeys::captionAutoHide);
    static inline const QString autoHideSecondsKey = QString(settingKeys::captionAutoHideSeconds);

    static constexpr int minimumFontSize = 12;
    static constexpr int maximumFontSize = 96;
    static constexpr int minimumLines = 1;
    static constexpr int maximumLines = 5;
    static constexpr int minimumWidthPercent = 20;
    static constexpr int maximumWidthPercent = 100;
    static constexpr int defaultAutoHideSeconds = 5;
    static constexpr int minimumAutoHideSeconds = 1;
    static constexpr int maximumAutoHideSeconds = 60;

    explicit LiveCaptionStyleSettings(PreferencesStore* preferences);

    // Whether the key is one of those above, so a holder knows when to read the style again.
    static bool isCaptionStyleKey(const QString& key);

    LiveCaptionStyle style() const;
    // The preset chosen last; the standard one until one is chosen.
    LiveCaptionPreset preset() const;
    // Whether a colour, the opacity or the edge now differs from the preset's.
    bool isPresetChanged() const;
    // Writes the preset's colours, opacity and text edge, and the preset itself.
    void applyPreset(LiveCaptionPreset preset);

    // Absent: the size follows the panel's width.
    std::optional<int> fontSize() const;
    void setFontSize(int points);
    // Empty: the desktop's interface font.
    void setFontFamily(const QString& family);
    void setTextColor(const QColor& color);
    void setBackgroundColor(const QColor& color);
    void setBackgroundOpacityPercent(int percent);
    void setTextEdge(LiveCaptionTextEdge edge);
    void setLines(int lines);
    void setAlignment(LiveCaptionAlignment alignment);

    std::optional<int> widthPercent() const;
    void setWidthPercent(int percent);
    // Back to the panel's standard width.
    void clearWidthPercent();

    bool autoHide() const;
    void setAutoHide(bool on);
    int autoHideSeconds() const;
    void setAutoHideSeconds(int seconds);
    // The idle time after which the caption hides; nothing while hiding is off.
    std::optional<int> autoHideAfterSeconds() const;

    static QColor toQColor(const LiveCaptionColor& color);
    static LiveCaptionColor fromQColor(const QColor& color);
    static QString presetName(LiveCaptionPreset preset);
    static std::optional<LiveCaptionPreset> presetNamed(const QString& name);

private:
    std::optional<int> intValue(const QString& key) const;

    PreferencesStore* m_preferences;
};

} // namespace tc
