#pragma once

#include <QWidget>

#include <cstdint>

class QLabel;
class QPropertyAnimation;
class QPushButton;

namespace tc {

class ReadingPosition;
class SessionTranscript;
class TranscriptListView;

// The live transcript: the session's lines as they arrive, the volatile text below them, and the button back to
// the newest line while reading back. Follows the newest line while the reading position says so, scrolls to and
// highlights cited lines. Main thread only.
class LiveTranscriptView : public QWidget {
    Q_OBJECT
public:
    static constexpr double nearBottomTolerance = 24.0;

    LiveTranscriptView(SessionTranscript& transcript, ReadingPosition& reading, double fontSize,
                       QWidget* parent = nullptr);

    TranscriptListView* list() const { return m_list; }
    QLabel* volatileLabel() const { return m_volatileLabel; }
    QPushButton* jumpButton() const { return m_jumpButton; }
    void setFontSize(double fontSize);
    bool isNearBottom() const { return m_isNearBottom; }
    // Within the tolerance of the end of the content.
    static bool isNearBottom(double offset, double contentHeight, double containerHeight);
    // The jump button's label for an unread count.
    static QString jumpButtonLabel(std::int64_t unreadCount);
    void scrollToBottom(bool animated);

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void syncLines();
    void refreshVolatile();
    void refreshJumpButton();
    void placeJumpButton();
    void scrollToPendingTarget();
    void updateNearBottom();
    void animateScroll(int target);

    SessionTranscript& m_transcript;
    ReadingPosition& m_reading;
    double m_fontSize;
    bool m_isNearBottom = true;
    bool m_programmaticScroll = false;
    // A line was added while following in view: the next layout glides to the bottom instead of jumping.
    bool m_glideToNewLine = false;
    TranscriptListView* m_list;
    QLabel* m_volatileLabel;
    QPushButton* m_jumpButton;
    QPropertyAnimation* m_scrollAnimation;
};

} // namespace tc
