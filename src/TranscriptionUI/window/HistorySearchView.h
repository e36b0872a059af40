#pragma once

#include "TranscriptionDomain/SearchTextFolding.h"
#include "TranscriptionDomain/Uuid.h"

#include <QWidget>

#include <functional>
#include <string>
#include <vector>

class QLabel;
class QLineEdit;
class QListWidget;
class QListWidgetItem;

namespace tc {

class HistorySearch;

// The search field over the whole history and its results: a header per session with its date, then the
// matching lines with their time, the matches marked. Choosing a line browses its day and highlights it.
// Escape or an empty field closes the results. Main thread only.
class HistorySearchView : public QWidget {
    Q_OBJECT
public:
    // Item data of a result line: the line's id as text.
    static constexpr int lineIdRole = Qt::UserRole + 1;
    // Item data of every row: its text without markup.
    static constexpr int plainTextRole = Qt::UserRole + 2;
    // Item data of a result line: the rich text the row draws, matches marked.
    static constexpr int markedTextRole = Qt::UserRole + 3;

    // Opens a chosen result line in the window; false when the line is no longer in the history.
    using OpenResult = std::function<bool(const Uuid& lineId)>;

    // Binds to the search; `open` is called for a chosen line.
    HistorySearchView(HistorySearch& search, OpenResult open, QWidget* parent = nullptr);

    QLineEdit* field() const { return m_field; }
    QListWidget* results() const { return m_results; }
    QLabel* summary() const { return m_summary; }
    // Puts the caret in the field with its text selected, as Ctrl+F does.
    void focusField();
    // Whether the field or the results have the keyboard focus.
    bool hasFocusWithin() const;
    // Return in the field or the list: chooses the current result, or the first one.
    void chooseCurrent();
    // The line as rich text with the UTF-8 byte ranges marked.
    static QString markedText(const std::string& text, const std::vector<TextRange>& ranges);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void rebuild();
    void choose(QListWidgetItem* item);

    HistorySearch& m_search;
    OpenResult m_open;
    QLineEdit* m_field = nullptr;
    QLabel* m_summary = nullptr;
    QListWidget* m_results = nullptr;
};

} // namespace tc
