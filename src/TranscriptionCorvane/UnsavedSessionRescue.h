#pragma once

#include <QString>
#include <functional>
#include <string>

class QWidget;

namespace tc {

class TranscriptionRootView;

// When the history could not be written at quit (a full disk, a folder gone read-only), the session's lines exist
// only in memory: the user is told and offered the window's Markdown export to a place that still has room.
// Main thread only.
class UnsavedSessionRescue {
public:
    // Shows the message and answers whether the user wants to export.
    using Question = std::function<bool(const QString& message)>;

    // The Japanese text shown for the failure message of the final save.
    static QString messageFor(const std::string& failure);
    // A message box with "書き出す…" and "書き出さずに終了".
    static Question messageBoxQuestion(QWidget* parent);
    // After the model's shutdown(): nothing when its final save succeeded or there are no lines; otherwise asks,
    // and on yes runs the window's export (which proposes the file name and reports its own failure). True when
    // the user was asked.
    static bool offer(TranscriptionRootView& root, const Question& ask);
};

} // namespace tc
