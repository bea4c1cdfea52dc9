#pragma once

#include <optional>
#include <string>
#include <vector>

namespace kav {

// What the command line asks for. Arguments are bytes, as the system hands
// them over: a file name need not be valid text.
struct CommandLine {
    enum class Ask { Window, Help, Version };
    Ask ask = Ask::Window;
    std::optional<std::string> startFile; // the document to start with
    std::optional<std::string> openFile;  // --open's, read into the view once it shows
    std::vector<std::string> ignored;     // passed over, with one warning
};

// Like a desktop's launcher expects: the first file name counts, and further
// names and unknown switches are passed over. `arguments` starts with the
// program's name.
CommandLine ParseCommandLine(const std::vector<std::string>& arguments);

} // namespace kav
