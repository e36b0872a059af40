#include "TranscriptionUI/window/WaveformView.h"

#include "TranscriptionUI/window/SymbolIcon.h"
#include "TranscriptionUI/window/ViewStyle.h"

#include <QEvent>
#include <QPainter>
#include <QPainterPath>
#include <algorithm>
#include <cmath>

namespace tc {

namespace {
constexpr double kSpacing = 6.0;
} // namespace

WaveformView::WaveformView(AudioSourceID id, QWidget* parent) : QWidget(parent), m_id(id)
{
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    refreshDescription();
}

void WaveformView::setInputs(std::vector<float> samples, bool isActive, float silenceThreshold)
{
    if (samples == m_samples && isActive == m_isActive && silenceThreshold == m_silenceThreshold) return;
    m_samples = std::move(samples);
    m_isActive = isActive;
    m_silenceThreshold = silenceThreshold;
    refreshDescription();
    update();
}

WaveformView::State WaveformView::state() const
{
    return state(m_samples, m_isActive, m_silenceThreshold);
}

QString WaveformView::label(AudioSourceID id)
{
    return id == AudioSourceID::microphone ? QStringLiteral("マイク") : QStringLiteral("システム音声");
}

QString WaveformView::symbol(AudioSourceID id)
{
    return id == AudioSourceID::microphone ? QStringLiteral("mic.fill") : QStringLiteral("speaker.wave.2.fill");
}

bool WaveformView::isSilent(const std::vector<float>& samples, float silenceThreshold)
{
    if (samples.empty()) return silenceThreshold > 0.0f;
    return samples.back() < silenceThreshold;
}

WaveformView::State WaveformView::state(const std::vector<float>& samples, bool isActive, float silenceThreshold)
{
    if (!isActive) return State::inactive;
    return isSilent(samples, silenceThreshold) ? State::silent : State::sounding;
}

QString WaveformView::tooltip(AudioSourceID id, State state)
{
    switch (state) {
    case State::sounding: return label(id) + QStringLiteral(": 入力中");
    case State::silent: return label(id) + QStringLiteral(": 無音");
    case State::inactive: return label(id) + QStringLiteral(": 無効");
    }
    return label(id);
}

QString WaveformView::accessibleLabel(AudioSourceID id)
{
    return label(id) + QStringLiteral(" 入力レベル波形");
}

std::vector<QRectF> WaveformView::barRects(const std::vector<float>& samples, QSizeF canvas)
{
    std::vector<QRectF> bars;
    if (samples.empty()) return bars;
    const double n = static_cast<double>(samples.size());
    const double w = std::max((canvas.width() - (n - 1.0)) / n, 1.0);
    const double height = canvas.height();
    bars.reserve(samples.size());
    for (std::size_t i = 0; i < samples.size(); ++i) {
        const double level = std::max(static_cast<double>(samples[i]), 0.0);
        const double amplitude = std::min(std::sqrt(level) * 1.4, 1.0);
        const double half = std::max(height * 0.5 * amplitude, 0.5);
        bars.emplace_back((w + 1.0) * static_cast<double>(i), height * 0.5 - half, w, 2.0 * half);
    }
    return bars;
}

QSize WaveformView::sizeHint() const
{
    const int icon = fontMetrics().height();
    return {icon + static_cast<int>(kSpacing + canvasWidth), std::max(icon, static_cast<int>(canvasHeight))};
}

QSize WaveformView::minimumSizeHint() const
{
    return sizeHint();
}

QRectF WaveformView::iconRect() const
{
    const double side = std::min<double>(fontMetrics().height(), height());
    return {0, (height() - side) / 2.0, side, side};
}

QRectF WaveformView::canvasRect() const
{
    const QRectF icon = iconRect();
    return {icon.right() + kSpacing, (height() - canvasHeight) / 2.0, canvasWidth, canvasHeight};
}

void WaveformView::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const State current = state();

    const QColor iconColor = current == State::sounding ? ViewStyle::primary(palette())
                             : current == State::silent ? ViewStyle::secondary(palette())
                                                        : ViewStyle::tertiary(palette());
    const QRectF icon = iconRect();
    SymbolIcon::fallback(symbol(m_id), iconColor).paint(&p, icon.toAlignedRect());

    const QRectF canvas = canvasRect();
    p.setOpacity(m_isActive ? 1.0 : 0.4);
    QPainterPath background;
    background.addRoundedRect(canvas, 4, 4);
    p.fillPath(background, ViewStyle::quaternary(palette()));
    if (!m_isActive) return;

    p.save();
    p.translate(canvas.topLeft());
    const QColor accent = ViewStyle::accent(palette());
    for (const QRectF& bar : barRects(m_samples, canvas.size())) {
        QPainterPath path;
        path.addRoundedRect(bar, bar.width() * 0.5, bar.width() * 0.5);
        p.fillPath(path, accent);
    }
    p.restore();
}

void WaveformView::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::FontChange) updateGeometry();
    QWidget::changeEvent(event);
}

void WaveformView::refreshDescription()
{
    setToolTip(tooltip(m_id, state()));
    setAccessibleName(accessibleLabel(m_id));
}

} // namespace tc
