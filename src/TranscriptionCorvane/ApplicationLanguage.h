#pragma once

#include <QString>

class QCoreApplication;

namespace tc {

// Qt's own texts (text fields' context menus, dialog buttons, file dialogs) in Japanese, whatever the desktop's
// language: every text of the app's own is Japanese, and one window in two languages reads worse than either.
// Main thread; once per application object.
class ApplicationLanguage {
public:
    // Makes Japanese the default locale and installs Qt's Japanese translation into app (which owns it); false,
    // with a line on stderr naming the package, when the translation is not installed.
    static bool install(QCoreApplication& app);
    // The folder Qt's translations are read from.
    static QString translationsFolder();
};

} // namespace tc
