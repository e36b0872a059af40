#pragma once

#include <QProcess>
#include <QStringList>

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

namespace tc::test {

// The program this build made, started the way a user starts it from a terminal; ended with SIGTERM when let go of.
class BuiltProgram {
public:
    struct Outcome {
        // The exit code; -1 when it crashed, did not finish or was not built.
        int status = -1;
        std::string out;
        std::string err;
    };

    // This process's environment without a display, with these entries added.
    static QProcessEnvironment environment(const std::vector<std::pair<QString, QString>>& extra = {});
    // A missing program fails the calling test; input, when given, is the file on its standard input.
    explicit BuiltProgram(const QStringList& arguments, const QProcessEnvironment& variables = environment(),
                          const std::filesystem::path& input = {});
    ~BuiltProgram();
    BuiltProgram(const BuiltProgram&) = delete;
    BuiltProgram& operator=(const BuiltProgram&) = delete;

    // Waits for its end; one still running after timeoutMs fails the calling test.
    Outcome finish(int timeoutMs = 600000);
    QProcess& process() { return m_process; }

    static Outcome run(const QStringList& arguments, const QProcessEnvironment& variables = environment(),
                       const std::filesystem::path& input = {}, int timeoutMs = 600000)
    {
        return BuiltProgram(arguments, variables, input).finish(timeoutMs);
    }

private:
    QProcess m_process;
};

} // namespace tc::test
