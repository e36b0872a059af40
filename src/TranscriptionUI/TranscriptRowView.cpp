#include "TranscriptionUI/TranscriptRowView.h"

#include "TranscriptionUI/ViewStyle.h"

#include <QDateTime>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <cmath>

namespace tc {

TranscriptRowView::TranscriptRowView(const FinalizedLine& line, double fontSize, QWidget* parent)
    : QWidget(parent), m_id(line.id), m_time(new QLabel(formatTime(line.time), this)),
      m_text(new QLabel(QString::fromStdString(line.text), this))
{
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(4, 2, 4, 2);
    layout->setSpacing(8);
    m_time->setFont(ViewStyle::monospacedDigitsCaption(font()));
    m_time->setStyleSheet(QStringLiteral("color: %1").arg(ViewStyle::css(ViewStyle::secondary(palette()))));
    m_time->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_time->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    m_text->setTextFormat(Qt::PlainText);
    m_text->setWordWrap(true);
    m_text->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_text->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    m_text->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    layout->addWidget(m_time, 0, Qt::AlignTop);
    layout->addWidget(m_text, 1, Qt::AlignTop);
    setAccessibleName(QString::fromStdString(line.text));
    setFontSize(fontSize);
}

QString TranscriptRowView::formatTime(Date time)
{
    const auto ms = static_cast<qint64>(std::llround(unixSecondsFromDate(time) * 1000.0));
    return QDateTime::fromMSecsSinceEpoch(ms).toString(QStringLiteral("HH:mm:ss"));
}

QString TranscriptRowView::timeText() const
{
    return m_time->text();
}

QString TranscriptRowView::text() const
{
    return m_text->text();
}

void TranscriptRowView::setFontSize(double fontSize)
{
    QFont font = m_text->font();
    font.setPixelSize(static_cast<int>(std::lround(fontSize)));
    m_text->setFont(font);
    alignBaselines();
}

void TranscriptRowView::alignBaselines()
{
    // Both labels are top-aligned; pushing the smaller time down by the ascent difference puts the two
    // first lines on one baseline.
    const int offset = std::max(0, m_text->fontMetrics().ascent() - m_time->fontMetrics().ascent());
    m_time->setContentsMargins(0, offset, 0, 0);
}

void TranscriptRowView::setHighlighted(bool highlighted)
{
    if (highlighted == m_highlighted) return;
    m_highlighted = highlighted;
    update();
}

void TranscriptRowView::paintEvent(QPaintEvent*)
{
    if (!m_highlighted) return;
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    QPainterPath path;
    path.addRoundedRect(QRectF(rect()), 4, 4);
    p.fillPath(path, ViewStyle::withOpacity(ViewStyle::accent(palette()), 0.18));
}

} // namespace tc
