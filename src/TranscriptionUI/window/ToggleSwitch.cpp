#include "TranscriptionUI/window/ToggleSwitch.h"

#include "TranscriptionUI/window/ViewStyle.h"

#include <QPainter>

namespace tc {

namespace {
constexpr int kIconSize = 16;
constexpr int kGap = 6;
constexpr int kTrackWidth = 30;
constexpr int kTrackHeight = 18;
} // namespace

ToggleSwitch::ToggleSwitch(const QIcon& icon, const QString& text, QWidget* parent) : QAbstractButton(parent)
{
    setIcon(icon);
    setText(text);
    setCheckable(true);
    setCursor(Qt::PointingHandCursor);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

QSize ToggleSwitch::sizeHint() const
{
    const int textWidth = fontMetrics().horizontalAdvance(text());
    return {kIconSize + kGap + textWidth + kGap + kTrackWidth + 2,
            std::max({kIconSize, kTrackHeight, fontMetrics().height()}) + 4};
}

void ToggleSwitch::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    if (!isEnabled()) p.setOpacity(0.5);
    const int midY = height() / 2;
    icon().paint(&p, QRect(0, midY - kIconSize / 2, kIconSize, kIconSize));
    const QRect textRect(kIconSize + kGap, 0, fontMetrics().horizontalAdvance(text()), height());
    p.setPen(ViewStyle::primary(palette()));
    p.drawText(textRect, Qt::AlignVCenter | Qt::AlignLeft, text());

    const QRectF track(textRect.right() + kGap, midY - kTrackHeight / 2.0, kTrackWidth, kTrackHeight);
    p.setPen(Qt::NoPen);
    p.setBrush(isChecked() ? ViewStyle::accent(palette()) : ViewStyle::tertiary(palette()));
    p.drawRoundedRect(track, kTrackHeight / 2.0, kTrackHeight / 2.0);
    const double knob = kTrackHeight - 4.0;
    const double knobX = isChecked() ? track.right() - 2.0 - knob : track.left() + 2.0;
    p.setBrush(Qt::white);
    p.drawEllipse(QRectF(knobX, track.top() + 2.0, knob, knob));
    if (hasFocus()) {
        p.setBrush(Qt::NoBrush);
        p.setPen(QPen(ViewStyle::accent(palette()), 1.5));
        p.drawRoundedRect(track.adjusted(-2, -2, 2, 2), kTrackHeight / 2.0 + 2, kTrackHeight / 2.0 + 2);
    }
}

} // namespace tc
