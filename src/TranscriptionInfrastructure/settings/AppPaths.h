#pragma once

#include <filesystem>
#include <map>
#include <optional>
#include <string>

namespace tc {

// Where the application keeps and finds its files: the one place that knows the XDG base-directory rules.
// Relative XDG_* values are ignored, as those rules say. A value type over an environment snapshot; any thread.
class AppPaths {
public:
    using Environment = std::map<std::string, std::string>;

    // The folder named after the application under each base directory.
    static constexpr const char* kAppFolder = "transcription-corvane";
    // The catalogue's file name in the data folders.
    static constexpr const char* kCatalogueName = "models.json";
    // The model installer's file name beside the catalogue.
    static constexpr const char* kModelInstallerName = "install-models";

    // Over the given variables; executable is the running program's file (empty when unknown).
    AppPaths(Environment environment, std::filesystem::path executable);
    // This process's environment and executable.
    static AppPaths current();

    // An absolute $HOME, else the user database's home; nothing when neither is known.
    std::optional<std::filesystem::path> home() const;
    // An absolute $XDG_DATA_HOME, else <home>/.local/share, else the temporary folder.
    std::filesystem::path dataHome() const;
    // An absolute $XDG_CACHE_HOME, else <home>/.cache, else the temporary folder.
    std::filesystem::path cacheHome() const;
    // An absolute $XDG_CONFIG_HOME, else <home>/.config, else the temporary folder.
    std::filesystem::path configHome() const;

    // <dataHome>/transcription-corvane
    std::filesystem::path dataDirectory() const;
    // $TC_CACHE_DIR when absolute, else <cacheHome>/transcription-corvane: downloads and built engines.
    std::filesystem::path cacheDirectory() const;
    // <configHome>/transcription-corvane: the settings file.
    std::filesystem::path configDirectory() const;
    // <dataDirectory>/models: speech and language model files.
    std::filesystem::path modelsDirectory() const;
    // <dataDirectory>/history.json
    std::filesystem::path historyFile() const;
    // <dataDirectory>/calendars: .ics files the user puts there.
    std::filesystem::path calendarsDirectory() const;
    // <dataHome>/evolution/calendar: the desktop's own calendars.
    std::filesystem::path evolutionCalendarsDirectory() const;
    // An absolute $XDG_RUNTIME_DIR that exists, else the temporary folder: sockets of this login.
    std::filesystem::path runtimeDirectory() const;
    // <home>/.config/transcription-corvane/config.json; nothing without a home.
    std::optional<std::filesystem::path> engineConfigFile() const;

    // The model catalogue: models.json in <executable>/../share/transcription-corvane (the build tree and an
    // installed prefix alike), else in the installed data folder, else in the $XDG_DATA_DIRS folders; the
    // first of these that exists, or the one beside the executable when none does.
    std::filesystem::path catalogueFile() const;
    // The model installer (scripts/install-models as built or installed), looked up like the catalogue.
    std::filesystem::path modelInstallerFile() const;

    // The figures above as NAME=value lines, one a line, for the scripts to read.
    std::string describe() const;

private:
    std::optional<std::filesystem::path> absoluteVariable(const std::string& name) const;
    std::filesystem::path baseDirectory(const std::string& variable, const std::filesystem::path& underHome) const;
    std::filesystem::path dataFile(const std::string& name) const;

    Environment m_environment;
    std::filesystem::path m_executable;
};

} // namespace tc
