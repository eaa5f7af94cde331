#pragma once

#include <string>
#include <vector>

namespace morvane {

/// What `brindlecroft` was asked to do by its arguments. Read before the window system is reached, so that
/// --help and --version work without a display. Arguments that do not start with "--" belong to Qt (-platform,
/// -style …) and are left to it.
struct CommandLine {
    enum class Action { run, help, version, error };
    Action action = Action::run;
    /// Run the remote screen in its deck configuration.
    bool deck = false;
    /// What was wrong, for `Action::error`.
    std::string problem;

    static CommandLine parse(const std::vector<std::string>& arguments);
    static const char* const helpText;
};

}  // namespace morvane
