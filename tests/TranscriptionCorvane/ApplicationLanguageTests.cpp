#include "TranscriptionCorvane/ApplicationLanguage.h"

#include "support/QtTestApplication.h"

#include <QAbstractButton>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QRegularExpression>
#include <QTextEdit>
#include <gtest/gtest.h>

#include <memory>

namespace tc {
namespace {

// Latin words of two letters or more, once the access key in "(&U)" and a shortcut after a tab are set aside;
// "OK" is how Japanese desktops write that button.
QStringList englishIn(QString text)
{
    text = text.section('\t', 0, 0);
    text.remove(QRegularExpression(QStringLiteral("\\(&.\\)")));
    text.remove('&');
    QStringList words;
    static const QRegularExpression latin(QStringLiteral("[A-Za-z]{2,}"));
    for (auto it = latin.globalMatch(text); it.hasNext();) {
        const QString word = it.next().captured();
        if (word != QStringLiteral("OK")) words << word;
    }
    return words;
}

// Every text of a menu, its submenus included; the texts seen go to seen.
void expectJapaneseMenu(QMenu& menu, const std::string& where, int& seen)
{
    for (QAction* action : menu.actions()) {
        if (action->isSeparator()) continue;
        ++seen;
        EXPECT_TRUE(englishIn(action->text()).isEmpty()) << where << ": " << action->text().toStdString();
        if (action->menu()) expectJapaneseMenu(*action->menu(), where, seen);
    }
}

class ApplicationLanguageTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        auto& app = test::qtApplication();
        ASSERT_TRUE(ApplicationLanguage::install(app))
            << "qtbase_ja.qm is not in " << ApplicationLanguage::translationsFolder().toStdString();
    }
};

TEST_F(ApplicationLanguageTest, TextFieldsContextMenusHaveNoEnglish)
{
    QLineEdit line(QStringLiteral("会議の議事録"));
    line.selectAll();
    QTextEdit rich;
    rich.setPlainText(QStringLiteral("発売日は四月十日です。"));
    rich.selectAll();
    QPlainTextEdit plain(QStringLiteral("次回は来週です。"));
    QLineEdit readOnly(QStringLiteral("読み取り専用"));
    readOnly.setReadOnly(true);

    int seen = 0;
    const auto expectJapanese = [&](auto& field, const std::string& where) {
        const std::unique_ptr<QMenu> menu(field.createStandardContextMenu());
        expectJapaneseMenu(*menu, where, seen);
        return menu->actions().first()->text();
    };
    EXPECT_TRUE(expectJapanese(line, "QLineEdit").contains(QStringLiteral("元に戻す")));
    EXPECT_TRUE(expectJapanese(rich, "QTextEdit").contains(QStringLiteral("元に戻す")));
    (void)expectJapanese(plain, "QPlainTextEdit");
    (void)expectJapanese(readOnly, "read-only QLineEdit");
    // Undo, redo, cut, copy, paste, delete and select all in each of the three editable fields.
    EXPECT_GE(seen, 3 * 7);
}

TEST_F(ApplicationLanguageTest, MessageBoxButtonsAndDetailsHaveNoEnglish)
{
    QMessageBox box(QMessageBox::Warning, QStringLiteral("更新の確認"),
                    QStringLiteral("更新情報を取得できませんでした。"),
                    QMessageBox::Ok | QMessageBox::Cancel | QMessageBox::Yes | QMessageBox::No | QMessageBox::Save |
                        QMessageBox::Discard | QMessageBox::Close | QMessageBox::Retry | QMessageBox::Ignore |
                        QMessageBox::Abort | QMessageBox::Apply | QMessageBox::Reset | QMessageBox::Help);
    box.setDetailedText(QStringLiteral("詳しい内容"));
    box.show();
    const auto buttons = box.findChildren<QAbstractButton*>();
    // The thirteen standard buttons and the details button.
    EXPECT_GE(buttons.size(), 14);
    for (const QAbstractButton* button : buttons)
        EXPECT_TRUE(englishIn(button->text()).isEmpty()) << button->text().toStdString();
    box.close();

    // The non-native file dialog, which the settings and the export open, with its own labels and buttons.
    QFileDialog dialog(nullptr, QStringLiteral("エクスポート"));
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    for (const QLabel* label : dialog.findChildren<QLabel*>())
        EXPECT_TRUE(englishIn(label->text()).isEmpty()) << label->text().toStdString();
    for (const QAbstractButton* button : dialog.findChildren<QAbstractButton*>()) {
        EXPECT_TRUE(englishIn(button->text()).isEmpty()) << button->text().toStdString();
        EXPECT_TRUE(englishIn(button->toolTip()).isEmpty()) << button->toolTip().toStdString();
    }
}

} // namespace
} // namespace tc
