#include "app/command_line.h"

namespace morvane {

const char* const CommandLine::helpText =
    "Usage: brindlecroft [--deck]\n"
    "\n"
    "The remote for cameras on the local network: their live pictures, settings and shutter, a live program,\n"
    "voice words, and a shoot library of every capture. Cameras are computers running brindlecroft-camera on\n"
    "the same local network (see brindlecroft-camera --help); each pairs once with a six-digit code.\n"
    "\n"
    "Options:\n"
    "  --deck      run as the deck: the cameras' deck copies of every take are collected here, to be\n"
    "              edited and exported from the takes list\n"
    "  --help      show this help, then exit\n"
    "  --version   show the version, then exit\n"
    "\n"
    "Ctrl+Q quits. Only one copy runs per user: a second start brings the running window to the front.\n";

CommandLine CommandLine::parse(const std::vector<std::string>& arguments) {
    CommandLine line;
    for (const auto& argument : arguments) {
        if (argument == "--help" || argument == "-h") {
            line.action = Action::help;
            return line;
        }
        if (argument == "--version") {
            line.action = Action::version;
            return line;
        }
        if (argument == "--deck") {
            line.deck = true;
        } else if (argument.rfind("--", 0) == 0) {
            line.action = Action::error;
            line.problem = "unknown option " + argument;
            return line;
        }
    }
    return line;
}

}  // namespace morvane
