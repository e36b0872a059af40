#pragma once

#include <QObject>

#include <string>
#include <vector>

namespace tc {

// The window's log of notices, oldest first. Main thread only.
class NoticeLog : public QObject {
    Q_OBJECT
public:
    const std::vector<std::string>& notices() const { return m_notices; }
    bool contains(const std::string& notice) const;
    void append(std::string notice);
    // Appends unless the newest notice says the same, so a repeated report shows once.
    void appendUnlessRepeated(std::string notice);
    void clear();

signals:
    void changed();

private:
    std::vector<std::string> m_notices;
};

} // namespace tc
