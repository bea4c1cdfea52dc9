#include "app/command_line.h"

namespace kav {

CommandLine ParseCommandLine(const std::vector<std::string>& arguments)
{
    CommandLine line;
    std::vector<std::string> files;
    std::vector<std::string> toOpen;
    bool help = false;
    bool version = false;
    bool options = true;
    for (std::size_t i = 1; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        if (options && argument == "--")
            options = false;
        else if (options && (argument == "-o" || argument == "--open")) {
            // The file is the next argument, as getopt takes it; a switch
            // without one asks for nothing.
            if (++i < arguments.size())
                toOpen.push_back(arguments[i]);
        } else if (options && argument.starts_with("--open=")) {
            if (argument.size() > 7)
                toOpen.push_back(argument.substr(7));
        } else if (options && (argument == "-h" || argument == "--help" || argument == "-?"))
            help = true;
        else if (options && (argument == "-v" || argument == "--version"))
            version = true;
        else if (options && argument.size() > 1 && argument.starts_with('-'))
            line.ignored.push_back(argument);
        else
            files.push_back(argument);
    }
    // Help wins over the version, as both end the program at once.
    if (help || version) {
        line.ask = help ? CommandLine::Ask::Help : CommandLine::Ask::Version;
        return line;
    }
    // A launcher passes one file; with --open it goes to the view, and the
    // plain start-up file is not taken as well.
    if (!toOpen.empty()) {
        line.openFile = toOpen.front();
        line.ignored.insert(line.ignored.end(), toOpen.begin() + 1, toOpen.end());
        line.ignored.insert(line.ignored.end(), files.begin(), files.end());
        return line;
    }
    if (!files.empty()) {
        line.startFile = files.front();
        line.ignored.insert(line.ignored.end(), files.begin() + 1, files.end());
    }
    return line;
}

} // namespace kav
