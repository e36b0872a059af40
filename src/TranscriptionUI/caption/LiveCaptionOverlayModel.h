#pragma once

#include "TranscriptionDomain/LiveCaptionContent.h"
#include "TranscriptionDomain/LiveCaptionStyle.h"

#include <QObject>
#include <functional>

namespace tc {

// What the caption panel draws. Main thread only.
class LiveCaptionOverlayModel : public QObject {
    Q_OBJECT
public:
    explicit LiveCaptionOverlayModel(LiveCaptionContent content = LiveCaptionContent::empty(),
                                     LiveCaptionStyle style = LiveCaptionStyle::defaultStyle(),
                                     QObject* parent = nullptr);

    const LiveCaptionContent& content() const { return m_content; }
    // An equal value is stored without a change signal, so an unchanged caption is not redrawn.
    void setContent(const LiveCaptionContent& content);
    const LiveCaptionStyle& style() const { return m_style; }
    void setStyle(const LiveCaptionStyle& style);

    // Run when the user presses the close button; may be empty.
    std::function<void()> onClose;

signals:
    void contentChanged();
    void styleChanged();

private:
    LiveCaptionContent m_content;
    LiveCaptionStyle m_style;
};

} // namespace tc
