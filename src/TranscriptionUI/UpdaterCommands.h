#pragma once

#include <QObject>

class QAction;
class QMenu;

namespace tc {

class UpdaterPort;

// "更新を確認…", placed after the about item of the help menu; always asks for a user-initiated check. Disabled
// when there is no updater.
class UpdaterCommands : public QObject {
    Q_OBJECT
public:
    // updater may be null; it must outlive the commands otherwise.
    explicit UpdaterCommands(UpdaterPort* updater, QObject* parent = nullptr);

    // Inserts the item right after aboutAction in the help menu (at the end when aboutAction is not in it).
    void install(QMenu* helpMenu, QAction* aboutAction);
    QAction* checkAction() const { return m_check; }

private:
    UpdaterPort* m_updater;
    QAction* m_check;
};

} // namespace tc
