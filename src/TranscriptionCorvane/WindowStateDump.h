#pragma once

#include <QObject>
#include <QString>
#include <QTimer>

namespace tc {

class TranscriptionRootView;

// Writes what the window shows (its transcript rows, volatile text, log and caption panel lines) to a JSON
// file whenever it changes, read from the widgets themselves. Used by the end-to-end test to look into the
// running application; only created when TC_WINDOW_STATE_FILE is set.
class WindowStateDump : public QObject {
    Q_OBJECT
public:
    WindowStateDump(TranscriptionRootView* root, QString path, QObject* parent = nullptr);

    // Writes now.
    void write();

private:
    TranscriptionRootView* m_root;
    QString m_path;
    QTimer m_debounce;
};

} // namespace tc
