#pragma once

#include <optional>
#include <string>
#include <variant>

namespace tc {

// The state of a software update.
namespace update_state {
struct Idle {
    friend bool operator==(const Idle&, const Idle&) = default;
};
struct Checking {
    friend bool operator==(const Checking&, const Checking&) = default;
};
struct UpdateAvailable {
    std::string version;
    // Absent notes differ from empty notes.
    std::optional<std::string> notes;
    friend bool operator==(const UpdateAvailable&, const UpdateAvailable&) = default;
};
struct Downloading {
    double fractionCompleted = 0;
    friend bool operator==(const Downloading&, const Downloading&) = default;
};
struct ReadyToInstall {
    std::string version;
    friend bool operator==(const ReadyToInstall&, const ReadyToInstall&) = default;
};
struct UpToDate {
    friend bool operator==(const UpToDate&, const UpToDate&) = default;
};
struct Failed {
    std::string reason;
    friend bool operator==(const Failed&, const Failed&) = default;
};
} // namespace update_state

using UpdateState =
    std::variant<update_state::Idle, update_state::Checking, update_state::UpdateAvailable, update_state::Downloading,
                 update_state::ReadyToInstall, update_state::UpToDate, update_state::Failed>;

} // namespace tc
