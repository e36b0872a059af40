#pragma once

#include <QWidget>

class QVBoxLayout;

namespace tc {

class NoticeLog;

// The log under the transcript: the notices, oldest first, with buttons to copy and clear them; hidden
// while there are none. Main thread only.
class NoticeLogView : public QWidget {
    Q_OBJECT
public:
    explicit NoticeLogView(NoticeLog& log, QWidget* parent = nullptr);

private:
    void refresh();

    NoticeLog& m_notices;
    QVBoxLayout* m_noticesLayout = nullptr;
};

} // namespace tc
