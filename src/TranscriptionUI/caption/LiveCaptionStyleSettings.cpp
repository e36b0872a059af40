#include "TranscriptionUI/caption/LiveCaptionStyleSettings.h"

#include "TranscriptionUI/PreferencesStore.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <utility>

namespace tc {

namespace {

const std::array<std::pair<LiveCaptionPreset, const char*>, 4> presetNames{{
    {LiveCaptionPreset::standard, "standard"},
    {LiveCaptionPreset::highContrast, "highContrast"},
    {LiveCaptionPreset::yellowText, "yellowText"},
    {LiveCaptionPreset::noBackground, "noBackground"},
}};

const std::array<std::pair<LiveCaptionTextEdge, const char*>, 3> edgeNames{{
    {LiveCaptionTextEdge::none, "none"},
    {LiveCaptionTextEdge::outline, "outline"},
    {LiveCaptionTextEdge::shadow, "shadow"},
}};

const std::array<std::pair<LiveCaptionAlignment, const char*>, 3> alignmentNames{{
    {LiveCaptionAlignment::left, "left"},
    {LiveCaptionAlignment::center, "center"},
    {LiveCaptionAlignment::right, "right"},
}};

template <class Enum, std::size_t N>
QString nameOf(const std::array<std::pair<Enum, const char*>, N>& names, Enum value)
{
    for (const auto& [candidate, name] : names)
        if (candidate == value) return QString::fromLatin1(name);
    return {};
}

template <class Enum, std::size_t N>
std::optional<Enum> valueNamed(const std::array<std::pair<Enum, const char*>, N>& names, const QString& wanted)
{
    for (const auto& [candidate, name] : names)
        if (wanted == QLatin1String(name)) return candidate;
    return std::nullopt;
}

} // namespace

int LiveCaptionStyleSettings::Range::clamped(int value) const
{
    return std::clamp(value, minimum, maximum);
}

LiveCaptionStyleSettings::LiveCaptionStyleSettings(PreferencesStore* preferences) : m_preferences(preferences) {}

bool LiveCaptionStyleSettings::isCaptionStyleKey(const QString& key)
{
    using namespace settingKeys;
    for (const char* known : {captionFontSize, captionFontFamily, captionTextColor, captionBackgroundColor,
                              captionBackgroundOpacity, captionOutline, captionLines, captionWidthPercent,
                              captionAlignment, captionPreset, captionAutoHide, captionAutoHideSeconds})
        if (key == QLatin1String(known)) return true;
    return false;
}

std::optional<int> LiveCaptionStyleSettings::intValue(const QString& key) const
{
    bool ok = false;
    const int stored = m_preferences->value(key).toInt(&ok);
    return ok ? std::optional(stored) : std::nullopt;
}

LiveCaptionStyle LiveCaptionStyleSettings::style() const
{
    LiveCaptionStyle style = LiveCaptionStyle::defaultStyle();
    style = LiveCaptionPresets::applied(preset(), style);
    if (const auto size = fontSize()) {
        // A chosen size pins the fitted range, so the panel's width no longer changes it.
        style.fontSize = *size;
        style.minFontSize = *size;
        style.maxFontSize = *size;
    }
    style.fontFamily = m_preferences->value(settingKeys::captionFontFamily).toString().toStdString();
    const auto color = [this](const QString& key) {
        const QColor stored(m_preferences->value(key).toString());
        return stored.isValid() ? std::optional(fromQColor(stored)) : std::nullopt;
    };
    if (const auto text = color(settingKeys::captionTextColor)) style.textColor = *text;
    if (const auto background = color(settingKeys::captionBackgroundColor)) style.backgroundColor = *background;
    if (const auto opacity = intValue(settingKeys::captionBackgroundOpacity))
        style.backgroundOpacity = opacityPercents.clamped(*opacity) / 100.0;
    if (const auto edge = valueNamed(edgeNames, m_preferences->value(settingKeys::captionOutline).toString()))
        style.textEdge = *edge;
    if (const auto lines = intValue(settingKeys::captionLines)) style.maxLines = lineCounts.clamped(*lines);
    if (const auto alignment =
            valueNamed(alignmentNames, m_preferences->value(settingKeys::captionAlignment).toString()))
        style.alignment = *alignment;
    return style;
}

LiveCaptionPreset LiveCaptionStyleSettings::preset() const
{
    return presetNamed(m_preferences->value(settingKeys::captionPreset).toString())
        .value_or(LiveCaptionPreset::standard);
}

bool LiveCaptionStyleSettings::isPresetChanged() const
{
    const LiveCaptionStyle current = style();
    const LiveCaptionStyle look = LiveCaptionPresets::applied(preset(), current);
    return current != look;
}

void LiveCaptionStyleSettings::applyPreset(LiveCaptionPreset preset)
{
    const LiveCaptionStyle look = LiveCaptionPresets::applied(preset, LiveCaptionStyle::defaultStyle());
    // The preset first, so that a reader woken by the single keys already sees it.
    m_preferences->setValue(settingKeys::captionPreset, presetName(preset));
    m_preferences->setValue(settingKeys::captionTextColor, toQColor(look.textColor).name());
    m_preferences->setValue(settingKeys::captionBackgroundColor, toQColor(look.backgroundColor).name());
    m_preferences->setValue(settingKeys::captionBackgroundOpacity,
                            static_cast<int>(std::lround(look.backgroundOpacity * 100)));
    m_preferences->setValue(settingKeys::captionOutline, nameOf(edgeNames, look.textEdge));
}

std::optional<int> LiveCaptionStyleSettings::fontSize() const
{
    const auto stored = intValue(settingKeys::captionFontSize);
    if (!stored || *stored <= 0) return std::nullopt;
    return fontSizes.clamped(*stored);
}

void LiveCaptionStyleSettings::setFontSize(int points)
{
    m_preferences->setValue(settingKeys::captionFontSize, fontSizes.clamped(points));
}

void LiveCaptionStyleSettings::setFontFamily(const QString& family)
{
    m_preferences->setValue(settingKeys::captionFontFamily, family);
}

void LiveCaptionStyleSettings::setTextColor(const QColor& color)
{
    m_preferences->setValue(settingKeys::captionTextColor, color.name());
}

void LiveCaptionStyleSettings::setBackgroundColor(const QColor& color)
{
    m_preferences->setValue(settingKeys::captionBackgroundColor, color.name());
}

void LiveCaptionStyleSettings::setBackgroundOpacityPercent(int percent)
{
    m_preferences->setValue(settingKeys::captionBackgroundOpacity, opacityPercents.clamped(percent));
}

void LiveCaptionStyleSettings::setTextEdge(LiveCaptionTextEdge edge)
{
    m_preferences->setValue(settingKeys::captionOutline, nameOf(edgeNames, edge));
}

void LiveCaptionStyleSettings::setLines(int lines)
{
    m_preferences->setValue(settingKeys::captionLines, lineCounts.clamped(lines));
}

void LiveCaptionStyleSettings::setAlignment(LiveCaptionAlignment alignment)
{
    m_preferences->setValue(settingKeys::captionAlignment, nameOf(alignmentNames, alignment));
}

std::optional<int> LiveCaptionStyleSettings::widthPercent() const
{
    const auto stored = intValue(settingKeys::captionWidthPercent);
    if (!stored) return std::nullopt;
    return widthPercents.clamped(*stored);
}

void LiveCaptionStyleSettings::setWidthPercent(int percent)
{
    m_preferences->setValue(settingKeys::captionWidthPercent, widthPercents.clamped(percent));
}

void LiveCaptionStyleSettings::clearWidthPercent()
{
    m_preferences->remove(settingKeys::captionWidthPercent);
}

bool LiveCaptionStyleSettings::autoHide() const
{
    return m_preferences->boolValue(settingKeys::captionAutoHide, false);
}

void LiveCaptionStyleSettings::setAutoHide(bool on)
{
    m_preferences->setBool(settingKeys::captionAutoHide, on);
}

int LiveCaptionStyleSettings::autoHideSeconds() const
{
    return autoHideDelays.clamped(intValue(settingKeys::captionAutoHideSeconds).value_or(defaultAutoHideSeconds));
}

void LiveCaptionStyleSettings::setAutoHideSeconds(int seconds)
{
    m_preferences->setValue(settingKeys::captionAutoHideSeconds, autoHideDelays.clamped(seconds));
}

std::optional<int> LiveCaptionStyleSettings::autoHideAfterSeconds() const
{
    return autoHide() ? std::optional(autoHideSeconds()) : std::nullopt;
}

QColor LiveCaptionStyleSettings::toQColor(const LiveCaptionColor& color)
{
    return QColor::fromRgbF(static_cast<float>(color.red), static_cast<float>(color.green),
                            static_cast<float>(color.blue));
}

LiveCaptionColor LiveCaptionStyleSettings::fromQColor(const QColor& color)
{
    // Through 8-bit components, so a colour read back equals the "#rrggbb" it was stored as.
    return {color.red() / 255.0, color.green() / 255.0, color.blue() / 255.0};
}

QString LiveCaptionStyleSettings::presetName(LiveCaptionPreset preset)
{
    return nameOf(presetNames, preset);
}

std::optional<LiveCaptionPreset> LiveCaptionStyleSettings::presetNamed(const QString& name)
{
    return valueNamed(presetNames, name);
}

} // namespace tc
