#include "TranscriptionInfrastructure/settings/AppPaths.h"

#include <pwd.h>
#include <unistd.h>

#include <sstream>
#include <system_error>
#include <vector>

extern char** environ;

// Where `cmake --install` puts the data files; set by the build.
#ifndef TC_INSTALL_DATA_DIR
#define TC_INSTALL_DATA_DIR "/usr/local/share"
#endif

namespace tc {

namespace fs = std::filesystem;

namespace {

fs::path temporaryFolder()
{
    std::error_code error;
    auto folder = fs::temp_directory_path(error);
    return error ? fs::path("/tmp") : folder;
}

std::optional<fs::path> userDatabaseHome()
{
    const long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
    std::string buffer(size > 0 ? static_cast<std::size_t>(size) : 16384, '\0');
    passwd entry{};
    passwd* found = nullptr;
    if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) != 0 || !found || !found->pw_dir)
        return std::nullopt;
    fs::path home = found->pw_dir;
    if (!home.is_absolute()) return std::nullopt;
    return home;
}

} // namespace

AppPaths::AppPaths(Environment environment, fs::path executable)
    : m_environment(std::move(environment)), m_executable(std::move(executable))
{}

AppPaths AppPaths::current()
{
    Environment environment;
    for (char** entry = environ; entry && *entry; ++entry) {
        const std::string text = *entry;
        if (const auto equals = text.find('='); equals != std::string::npos)
            environment.emplace(text.substr(0, equals), text.substr(equals + 1));
    }
    std::error_code error;
    auto executable = fs::read_symlink("/proc/self/exe", error);
    return AppPaths(std::move(environment), error ? fs::path() : executable);
}

std::optional<fs::path> AppPaths::absoluteVariable(const std::string& name) const
{
    const auto it = m_environment.find(name);
    if (it == m_environment.end() || it->second.empty()) return std::nullopt;
    fs::path value = it->second;
    if (!value.is_absolute()) return std::nullopt;
    return value;
}

std::optional<fs::path> AppPaths::home() const
{
    if (auto home = absoluteVariable("HOME")) return home;
    return userDatabaseHome();
}

fs::path AppPaths::baseDirectory(const std::string& variable, const fs::path& underHome) const
{
    if (auto base = absoluteVariable(variable)) return *base;
    if (auto user = home()) return *user / underHome;
    return temporaryFolder();
}

fs::path AppPaths::dataHome() const
{
    return baseDirectory("XDG_DATA_HOME", ".local/share");
}

fs::path AppPaths::cacheHome() const
{
    return baseDirectory("XDG_CACHE_HOME", ".cache");
}

fs::path AppPaths::configHome() const
{
    return baseDirectory("XDG_CONFIG_HOME", ".config");
}

fs::path AppPaths::dataDirectory() const
{
    return dataHome() / kAppFolder;
}

fs::path AppPaths::cacheDirectory() const
{
    if (auto chosen = absoluteVariable("TC_CACHE_DIR")) return *chosen;
    return cacheHome() / kAppFolder;
}

fs::path AppPaths::configDirectory() const
{
    return configHome() / kAppFolder;
}

fs::path AppPaths::modelsDirectory() const
{
    return dataDirectory() / "models";
}

fs::path AppPaths::historyFile() const
{
    return dataDirectory() / "history.json";
}

fs::path AppPaths::calendarsDirectory() const
{
    return dataDirectory() / "calendars";
}

fs::path AppPaths::evolutionCalendarsDirectory() const
{
    return dataHome() / "evolution" / "calendar";
}

fs::path AppPaths::runtimeDirectory() const
{
    std::error_code error;
    if (auto runtime = absoluteVariable("XDG_RUNTIME_DIR"); runtime && fs::is_directory(*runtime, error))
        return *runtime;
    return temporaryFolder();
}

std::optional<fs::path> AppPaths::engineConfigFile() const
{
    const auto user = home();
    if (!user) return std::nullopt;
    return *user / ".config" / kAppFolder / "config.json";
}

fs::path AppPaths::dataFile(const std::string& name) const
{
    std::vector<fs::path> candidates;
    if (!m_executable.empty())
        candidates.push_back(
            (m_executable.parent_path() / ".." / "share" / kAppFolder / name).lexically_normal());
    candidates.push_back(fs::path(TC_INSTALL_DATA_DIR) / kAppFolder / name);
    // XDG_DATA_DIRS, or its documented default; relative entries are skipped like any relative XDG value.
    const auto dirs = m_environment.find("XDG_DATA_DIRS");
    std::istringstream list(dirs != m_environment.end() && !dirs->second.empty() ? dirs->second
                                                                                 : "/usr/local/share:/usr/share");
    for (std::string entry; std::getline(list, entry, ':');) {
        if (fs::path(entry).is_absolute()) candidates.push_back(fs::path(entry) / kAppFolder / name);
    }
    for (const auto& candidate : candidates) {
        std::error_code error;
        if (fs::is_regular_file(candidate, error)) return candidate;
    }
    return candidates.front();
}

fs::path AppPaths::catalogueFile() const
{
    return dataFile(kCatalogueName);
}

fs::path AppPaths::modelInstallerFile() const
{
    return dataFile(kModelInstallerName);
}

std::string AppPaths::describe() const
{
    std::ostringstream out;
    out << "TC_DATA_HOME=" << dataHome().string() << '\n'
        << "TC_APP_DATA_DIR=" << dataDirectory().string() << '\n'
        << "TC_CACHE_DIR=" << cacheDirectory().string() << '\n'
        << "TC_CONFIG_DIR=" << configDirectory().string() << '\n'
        << "TC_MODELS_DIR=" << modelsDirectory().string() << '\n'
        << "TC_MODEL_CATALOGUE=" << catalogueFile().string() << '\n'
        << "TC_MODEL_INSTALLER=" << modelInstallerFile().string() << '\n'
        << "TC_HISTORY_FILE=" << historyFile().string() << '\n'
        << "TC_CALENDARS_DIR=" << calendarsDirectory().string() << '\n';
    return out.str();
}

} // namespace tc
