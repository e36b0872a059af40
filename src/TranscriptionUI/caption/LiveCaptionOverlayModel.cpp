#include "TranscriptionUI/caption/LiveCaptionOverlayModel.h"

namespace tc {

LiveCaptionOverlayModel::LiveCaptionOverlayModel(LiveCaptionContent content, LiveCaptionStyle style, QObject* parent)
    : QObject(parent), m_content(std::move(content)), m_style(style)
{}

void LiveCaptionOverlayModel::setContent(const LiveCaptionContent& content)
{
    if (content == m_content) return;
    m_content = content;
    Q_EMIT contentChanged();
}

void LiveCaptionOverlayModel::setStyle(const LiveCaptionStyle& style)
{
    if (style == m_style) return;
    m_style = style;
    Q_EMIT styleChanged();
}

} // namespace tc
