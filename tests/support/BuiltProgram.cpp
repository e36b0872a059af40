#include "support/BuiltProgram.h"

#include "support/TestPaths.h"

#include <QProcess>

#include <gtest/gtest.h>

namespace tc::test {

namespace fs = std::filesystem;

BuiltProgram::Outcome BuiltProgram::run(const QStringList& arguments,
                                        const std::vector<std::pair<QString, QString>>& extra,
                                        const fs::path& input, int timeoutMs)
{
    const fs::path program = binaryDir() / "src" / "transcription-corvane";
    Outcome outcome;
    if (!fs::exists(program)) {
        ADD_FAILURE() << "build the program first: " << program;
        return outcome;
    }
    QProcess process;
    auto environment = QProcessEnvironment::systemEnvironment();
    environment.remove("DISPLAY");
    environment.remove("WAYLAND_DISPLAY");
    for (const auto& [key, value] : extra)
        environment.insert(key, value);
    process.setProcessEnvironment(environment);
    if (!input.empty()) process.setStandardInputFile(QString::fromStdString(input.string()));
    process.start(QString::fromStdString(program.string()), arguments);
    if (!process.waitForFinished(timeoutMs)) {
        process.kill();
        ADD_FAILURE() << "the program did not finish";
    }
    outcome.status = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    outcome.out = process.readAllStandardOutput().toStdString();
    outcome.err = process.readAllStandardError().toStdString();
    return outcome;
}

} // namespace tc::test
