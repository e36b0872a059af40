#include "TranscriptionUI/UpdaterCommands.h"

#include "TranscriptionApplication/UpdaterPort.h"

#include <QAction>
#include <QMenu>

namespace tc {

UpdaterCommands::UpdaterCommands(UpdaterPort* updater, QObject* parent)
    : QObject(parent), m_updater(updater), m_check(new QAction(QStringLiteral("更新を確認…"), this))
{
    m_check->setEnabled(m_updater != nullptr);
    connect(m_check, &QAction::triggered, this, [this] {
        if (m_updater) m_updater->checkForUpdates(true);
    });
}

void UpdaterCommands::install(QMenu* helpMenu, QAction* aboutAction)
{
    const QList<QAction*> actions = helpMenu->actions();
    const qsizetype index = actions.indexOf(aboutAction);
    if (index < 0 || index + 1 >= actions.size())
        helpMenu->addAction(m_check);
    else
        helpMenu->insertAction(actions[index + 1], m_check);
}

} // namespace tc
