#pragma once

namespace tc {

// Software updates. Called on the main thread only.
class UpdaterPort {
public:
    virtual ~UpdaterPort() = default;

    // true: an interactive check that shows its own progress and result; false: a silent background check.
    virtual void checkForUpdates(bool userInitiated) = 0;
    // Whether the updater checks on its own schedule.
    virtual bool automaticallyChecksForUpdates() const = 0;
    virtual void setAutomaticallyChecksForUpdates(bool enabled) = 0;
};

} // namespace tc
