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
    // It reads and writes settingKeys' caption look (SettingKeys.h says what each holds); these two are read
    // elsewhere too.
    static inline const QString fontSizeKey = QString(settingKeys::captionFontSize);
    static inline const QString linesKey = QString(settingKeys::captionLines);

    // The values a choice may take: what the controls offer and what a stored value is clamped to.
    struct Range {
        int minimum;
        int maximum;
        int clamped(int value) const;
    };
    static constexpr Range fontSizes{12, 96};
    static constexpr Range opacityPercents{0, 100};
    static constexpr Range lineCounts{1, 5};
    static constexpr Range widthPercents{20, 100};
    static constexpr Range autoHideDelays{1, 60};
    static constexpr int defaultAutoHideSeconds = 5;

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
