#include "TranscriptionUI/presentation/NoticeLog.h"

#include <algorithm>

namespace tc {

bool NoticeLog::contains(const std::string& notice) const
{
    return std::find(m_notices.begin(), m_notices.end(), notice) != m_notices.end();
}

void NoticeLog::append(std::string notice)
{
    m_notices.push_back(std::move(notice));
    Q_EMIT changed();
}

void NoticeLog::appendUnlessRepeated(std::string notice)
{
    if (!m_notices.empty() && m_notices.back() == notice) return;
    append(std::move(notice));
}

void NoticeLog::clear()
{
    if (m_notices.empty()) return;
    m_notices.clear();
    Q_EMIT changed();
}

} // namespace tc
