#pragma once

#include <QString>
#include <QStringList>

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

namespace tc::test {

// The program this build made, run the way a user runs it from a terminal.
class BuiltProgram {
public:
    struct Outcome {
        // The exit code; -1 when it crashed, did not finish or was not built.
        int status = -1;
        std::string out;
        std::string err;
    };

    // Runs it without a display; extra environment entries and a file for its standard input may be given. A
    // missing program or one still running after timeoutMs fails the calling test.
    static Outcome run(const QStringList& arguments, const std::vector<std::pair<QString, QString>>& extra = {},
                       const std::filesystem::path& input = {}, int timeoutMs = 600000);
};

} // namespace tc::test
