#include "TranscriptionCorvane/UnsavedSessionRescue.h"

#include "TranscriptionUI/TranscriptionRootView.h"
#include "TranscriptionUI/TranscriptionViewModel.h"

#include <QMessageBox>
#include <QPushButton>

namespace tc {

QString UnsavedSessionRescue::messageFor(const std::string& failure)
{
    return QString::fromStdString(failure) +
           QStringLiteral("\n\nこのセッションの文字起こしは履歴に残っていません。空きのある別の場所（USB メモリなど）"
                          "に書き出してください。");
}

UnsavedSessionRescue::Question UnsavedSessionRescue::messageBoxQuestion(QWidget* parent)
{
    return [parent](const QString& message) {
        QMessageBox box(QMessageBox::Warning, QStringLiteral("履歴を保存できませんでした"), message,
                        QMessageBox::NoButton, parent);
        QPushButton* exportButton = box.addButton(QStringLiteral("書き出す…"), QMessageBox::AcceptRole);
        box.addButton(QStringLiteral("書き出さずに終了"), QMessageBox::DestructiveRole);
        box.setDefaultButton(exportButton);
        box.exec();
        return box.clickedButton() == exportButton;
    };
}

bool UnsavedSessionRescue::offer(TranscriptionRootView& root, const Question& ask)
{
    const auto& failure = root.model()->historyAutosave().finalSaveError();
    if (!failure || root.model()->sessionTranscript().lines().empty()) return false;
    if (ask(messageFor(*failure))) root.exportTranscript();
    return true;
}

} // namespace tc
