#pragma once

#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <sys/types.h>
#include <vector>

namespace tc::test {

// A private PulseAudio server for one test process: its own runtime directory, null sinks and pipe sources.
// Construction starts it and points this process's PulseAudio clients at it (XDG_RUNTIME_DIR, PULSE_SERVER);
// destruction stops it and restores the environment, and keeps the server's log (saying where) when the test has
// failed. No system-wide or per-user instance is touched.
// Create it before any thread that connects to the server; not thread-safe itself.
class PulseAudioServer {
public:
    struct PipeSource {
        std::string name = "mic";
        int rate = 48000;
        int channels = 1;
        // Empty keeps the server's own description.
        std::string description;
    };
    struct NullSink {
        std::string name;
        std::string description;
        int rate = 48000;
        int channels = 2;
    };
    struct Options {
        // Empty for a server without any output.
        std::string sinkName = "out";
        std::string sinkDescription;
        // The first one is the default source.
        std::vector<PipeSource> pipeSources{PipeSource{}};
        // More outputs beside the default one.
        std::vector<NullSink> extraSinks;
    };

    PulseAudioServer();
    explicit PulseAudioServer(Options options);
    ~PulseAudioServer();
    PulseAudioServer(const PulseAudioServer&) = delete;
    PulseAudioServer& operator=(const PulseAudioServer&) = delete;

    // Whether the server came up; otherwise startError() says why.
    bool isRunning() const { return m_pid > 0; }
    const std::string& startError() const { return m_error; }

    // Loads one more pipe source (without a description); false when the server refused it.
    bool addPipeSource(const PipeSource& source);
    // Unloads the module that made this sink or source (as a device being unplugged); false when none did.
    bool unloadDevice(const std::string& name) const;
    // Writes float32 samples (interleaved when the source has several channels) into a pipe source. A pipe source is
    // read only while something records it: the pipe holds about 0.3 s of mono at 48 kHz, and a longer write waits
    // for a recorder, giving up after 5 s without one.
    void writeToSource(const std::string& source, std::span<const float> samples) const;
    // Plays float32 interleaved samples into a sink (the default one when empty) through pacat; returns when they
    // have been played.
    bool play(std::span<const float> samples, int rate, int channels, const std::string& sink = {}) const;
    // Runs pactl with these arguments against this server; its exit status.
    int pactl(const std::string& arguments) const;
    // Kills the server at once (as a crash would) and waits until it is gone.
    void kill();
    // Kills the server if it runs and starts it again with the same runtime directory, sink and pipe sources (a
    // sound server coming back after a crash or a suspend); whether it came up.
    bool restart();

private:
    void start();
    void launch();

    Options m_options;
    std::filesystem::path m_dir;
    pid_t m_pid = 0;
    std::string m_error;
    std::vector<std::pair<std::string, std::optional<std::string>>> m_savedEnvironment;
};

} // namespace tc::test
