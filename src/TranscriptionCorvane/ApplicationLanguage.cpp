#include "TranscriptionCorvane/ApplicationLanguage.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

#include <cstdio>

namespace tc {

QString ApplicationLanguage::translationsFolder()
{
    return QLibraryInfo::path(QLibraryInfo::TranslationsPath);
}

bool ApplicationLanguage::install(QCoreApplication& app)
{
    const QLocale japanese(QLocale::Japanese, QLocale::Japan);
    QLocale::setDefault(japanese);
    auto* translator = new QTranslator(&app);
    if (!translator->load(japanese, QStringLiteral("qtbase"), QStringLiteral("_"), translationsFolder())) {
        delete translator;
        std::fprintf(stderr,
                     "transcription-corvane: Qt の日本語訳（%s/qtbase_ja.qm）がありません。メニューやボタンの一部が"
                     "英語になります。qt6-translations-l10n パッケージを入れてください。\n",
                     translationsFolder().toLocal8Bit().constData());
        return false;
    }
    QCoreApplication::installTranslator(translator);
    return true;
}

} // namespace tc
