#include "support/SubtitleReadBack.h"
#include "support/ShellCommand.h"

namespace tc::test {

std::size_t occurrences(const std::string& text, const std::string& piece)
{
    std::size_t n = 0;
    for (std::size_t pos = text.find(piece); pos != std::string::npos; pos = text.find(piece, pos + piece.size()))
        ++n;
    return n;
}

std::optional<std::string> ffprobeSubtitlePackets(const std::filesystem::path& file)
{
    if (shellOutput("command -v ffprobe").empty()) return std::nullopt;
    return shellOutput("ffprobe -v error -select_streams s:0 -show_entries packet=pts_time,duration_time "
                       "-of csv=p=0 " +
                       shellQuoted(file.string()));
}

std::string ffmpegAsSrt(const std::filesystem::path& file)
{
    return shellOutput("ffmpeg -v error -i " + shellQuoted(file.string()) + " -f srt - 2>/dev/null");
}

} // namespace tc::test
