#include "TranscriptionInfrastructure/calendar/CalendarSourceInfo.h"

namespace tc {

const char* calendarSourceKindName(CalendarSourceKind kind)
{
    switch (kind) {
    case CalendarSourceKind::desktopAccount: return "デスクトップのアカウント";
    case CalendarSourceKind::subscription: return "購読";
    case CalendarSourceKind::linkedFile: return "リンクしたファイル";
    case CalendarSourceKind::calendarsFolder: return "カレンダーフォルダ";
    case CalendarSourceKind::evolutionFile: return "Evolution のファイル";
    }
    return "";
}

} // namespace tc
