#include "support/AppUnderXvfb.h"

#include "TranscriptionInfrastructure/settings/AppPaths.h"

#include "support/QtTestApplication.h"

#include <QDateTime>
#include <QJsonDocument>
#include <QSettings>
#include <QTest>

#include <fstream>

namespace tc::test {

namespace fs = std::filesystem;

namespace {

QString text(const fs::path& path)
{
    return QString::fromStdString(path.string());
}

void writeMeetingNow(const fs::path& calendar)
{
    const QDateTime now = QDateTime::currentDateTimeUtc();
    const QString format = QStringLiteral("yyyyMMdd'T'HHmmss'Z'");
    std::ofstream(calendar, std::ios::binary)
        << QStringLiteral("BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//tc//tests//JA\r\nBEGIN:VEVENT\r\n"
                          "UID:tests-meeting\r\nDTSTAMP:%1\r\nDTSTART:%2\r\nDTEND:%3\r\nSUMMARY:定例ミーティング\r\n"
                          "END:VEVENT\r\nEND:VCALENDAR\r\n")
               .arg(now.toString(format), now.addSecs(-1800).toString(format), now.addSecs(1800).toString(format))
               .toStdString();
}

} // namespace

AppUnderXvfb::AppUnderXvfb(const User& user) : m_screen(user.screen)
{
    qtApplication();
    m_sound = std::make_unique<PulseAudioServer>();
    m_x = std::make_unique<XvfbServer>(m_screen.width(), m_screen.height());
    m_display = m_x->display();

    const fs::path config = home() / ".config";
    const fs::path data = home() / ".local/share/transcription-corvane";
    fs::create_directories(config / "transcription-corvane");
    fs::create_directories(data);
    fs::create_symlink(AppPaths::current().modelsDirectory(), data / "models");
    {
        QSettings settings(text(config / "transcription-corvane/transcription-corvane.conf"), QSettings::IniFormat);
        for (const char* consent : {"consent/screenRecording", "consent/speechRecognition"})
            settings.setValue(consent, "granted");
        if (user.meetingNow) settings.setValue("consent/calendar", "granted");
        settings.setValue("optInSystemAudio", true);
        settings.setValue("liveCaptionOverlayVisible", true);
        if (!user.captionPlacement.isEmpty()) settings.setValue("caption/placement", user.captionPlacement);
    }
    if (user.meetingNow) {
        fs::create_directories(data / "calendars");
        writeMeetingNow(data / "calendars/work.ics");
    }
    m_stateFile = home() / "window-state.json";
    // Taken after the sound server started, which points this process at itself.
    m_environment = BuiltProgram::environment({{"HOME", text(home())},
                                               {"XDG_CONFIG_HOME", text(config)},
                                               {"XDG_DATA_HOME", text(home() / ".local/share")},
                                               {"XDG_CACHE_HOME", text(home() / ".cache")},
                                               {"TC_WINDOW_STATE_FILE", text(m_stateFile)},
                                               {"DISPLAY", m_display},
                                               {"QT_QPA_PLATFORM", "xcb"}});
}

AppUnderXvfb::~AppUnderXvfb()
{
    m_program.reset();
    m_x.reset();
}

std::string AppUnderXvfb::startError() const
{
    if (!m_sound->isRunning()) return m_sound->startError();
    if (m_display.isEmpty())
        return "no X server could be started that a client reaches (are Xvfb and xdpyinfo installed?)";
    return {};
}

std::string AppUnderXvfb::xServerReport()
{
    return m_x->report();
}

bool AppUnderXvfb::launch()
{
    m_program.reset();
    fs::remove(m_stateFile);
    m_program = std::make_unique<BuiltProgram>(QStringList{}, m_environment);
    return waitForState(
        [](const QJsonObject& state) { return state["running"].toBool() && state["captionPanelVisible"].toBool(); },
        60000);
}

bool AppUnderXvfb::waitForState(const std::function<bool(const QJsonObject&)>& condition, int timeoutMs) const
{
    return QTest::qWaitFor([&] { return condition(state()); }, timeoutMs);
}

std::optional<QString> AppUnderXvfb::run(const QString& tool, const QStringList& arguments, int timeoutMs) const
{
    QProcess process;
    process.setProcessEnvironment(m_environment);
    process.start(tool, arguments);
    if (!process.waitForFinished(timeoutMs)) {
        process.kill();
        process.waitForFinished(3000);
        return std::nullopt;
    }
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) return std::nullopt;
    return QString::fromUtf8(process.readAllStandardOutput()).trimmed();
}

bool AppUnderXvfb::play(const fs::path& file, int timeoutMs) const
{
    return run(QStringLiteral("paplay"), {QStringLiteral("--device=out"), text(file)}, timeoutMs).has_value();
}

QImage AppUnderXvfb::screenshot(const fs::path& file, const QRect& area) const
{
    QStringList arguments{"-window", "root"};
    if (!area.isEmpty())
        arguments << "-crop"
                  << QStringLiteral("%1x%2+%3+%4").arg(area.width()).arg(area.height()).arg(area.x()).arg(area.y())
                  << "+repage";
    fs::remove(file);
    (void)run(QStringLiteral("import"), arguments << "-strip" << text(file));
    return QImage(text(file));
}

QRect AppUnderXvfb::rectOf(const QJsonObject& frame)
{
    return {frame["x"].toInt(), frame["y"].toInt(), frame["width"].toInt(), frame["height"].toInt()};
}

QJsonObject AppUnderXvfb::readJson(const fs::path& file)
{
    return QJsonDocument::fromJson(QByteArray::fromStdString(readText(file))).object();
}

} // namespace tc::test
