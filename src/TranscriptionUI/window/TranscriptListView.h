#pragma once

#include <QListView>

namespace tc {

class TranscriptLineDelegate;
class TranscriptLineListModel;

// A scrolling list of transcript lines drawn by TranscriptLineDelegate, scrolled by pixels; selected lines
// are copied as "HH:mm:ss text" lines (context menu or the copy keys). Owns its model. Main thread only.
class TranscriptListView : public QListView {
    Q_OBJECT
public:
    TranscriptListView(double fontSize, QWidget* parent = nullptr);

    TranscriptLineListModel* lines() const { return m_lines; }
    void setFontSize(double fontSize);
    // Copies the selected lines to the clipboard.
    void copySelection() const;

protected:
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    TranscriptLineListModel* m_lines;
    TranscriptLineDelegate* m_delegate;
};

} // namespace tc
