#include "support/BuiltProgram.h"

#include "support/TestPaths.h"

#include <gtest/gtest.h>

namespace tc::test {

QProcessEnvironment BuiltProgram::environment(const std::vector<std::pair<QString, QString>>& extra)
{
    auto variables = QProcessEnvironment::systemEnvironment();
    variables.remove("DISPLAY");
    variables.remove("WAYLAND_DISPLAY");
    for (const auto& [key, value] : extra)
        variables.insert(key, value);
    return variables;
}

BuiltProgram::BuiltProgram(const QStringList& arguments, const QProcessEnvironment& variables,
                           const std::filesystem::path& input)
{
    const auto program = binaryDir() / "src" / "transcription-corvane";
    if (!std::filesystem::exists(program)) {
        ADD_FAILURE() << "build the program first: " << program;
        return;
    }
    m_process.setProcessEnvironment(variables);
    if (!input.empty()) m_process.setStandardInputFile(QString::fromStdString(input.string()));
    m_process.start(QString::fromStdString(program.string()), arguments);
}

BuiltProgram::~BuiltProgram()
{
    if (m_process.state() == QProcess::NotRunning) return;
    m_process.terminate();
    if (!m_process.waitForFinished(30000)) m_process.kill();
    m_process.waitForFinished();
}

BuiltProgram::Outcome BuiltProgram::finish(int timeoutMs)
{
    if (m_process.state() != QProcess::NotRunning && !m_process.waitForFinished(timeoutMs)) {
        m_process.kill();
        ADD_FAILURE() << "the program did not finish";
    }
    const bool exited = !m_process.program().isEmpty() && m_process.exitStatus() == QProcess::NormalExit &&
                        m_process.error() != QProcess::FailedToStart;
    return {exited ? m_process.exitCode() : -1, m_process.readAllStandardOutput().toStdString(),
            m_process.readAllStandardError().toStdString()};
}

} // namespace tc::test
