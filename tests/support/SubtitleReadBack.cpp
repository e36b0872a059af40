#include "support/SubtitleReadBack.h"

#include <cstdio>
#include <memory>

namespace tc::test {

namespace {

// Standard output of a shell command; empty when it could not run.
std::string commandOutput(const std::string& command)
{
    std::string output;
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
    if (!pipe) return output;
    char buffer[4096];
    while (const std::size_t n = std::fread(buffer, 1, sizeof buffer, pipe.get()))
        output.append(buffer, n);
    return output;
}

} // namespace

std::size_t occurrences(const std::string& text, const std::string& piece)
{
    std::size_t n = 0;
    for (std::size_t pos = text.find(piece); pos != std::string::npos; pos = text.find(piece, pos + piece.size()))
        ++n;
    return n;
}

std::optional<std::string> ffprobeSubtitlePackets(const std::filesystem::path& file)
{
    if (commandOutput("command -v ffprobe").empty()) return std::nullopt;
    return commandOutput("ffprobe -v error -select_streams s:0 -show_entries packet=pts_time,duration_time "
                         "-of csv=p=0 '" +
                         file.string() + "'");
}

std::optional<std::size_t> ffprobeCueCount(const std::filesystem::path& file)
{
    const auto packets = ffprobeSubtitlePackets(file);
    if (!packets) return std::nullopt;
    return occurrences(*packets, "\n");
}

std::string ffmpegAsSrt(const std::filesystem::path& file)
{
    return commandOutput("ffmpeg -v error -i '" + file.string() + "' -f srt - 2>/dev/null");
}

} // namespace tc::test
