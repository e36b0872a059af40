#pragma once

#include <QWidget>

class QVBoxLayout;

namespace tc {

class TranscriptionViewModel;

// The log under the transcript: the model's notices, oldest first, with buttons to copy and clear them; hidden
// while there are none. Main thread only.
class NoticeLogView : public QWidget {
    Q_OBJECT
public:
    NoticeLogView(TranscriptionViewModel* model, QWidget* parent = nullptr);

private:
    void refresh();

    TranscriptionViewModel* m_model;
    QVBoxLayout* m_noticesLayout = nullptr;
};

} // namespace tc
