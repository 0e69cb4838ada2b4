// Walking a tool's command line: operands, "--name=value", "--name value", "-x value", and "--"
// ending the options.
#pragma once

#include <functional>
#include <string>

// What an option handler gets: its name, and how to fetch its value (inline or the next
// argument; false with *error set when there is none). value holds it once fetched; inlined
// tells whether it came with the name, which an option without a value must refuse.
struct OptionItem {
    std::string name;
    std::function<bool()> takeValue;
    std::string value;
    bool inlined = false;
};

// Calls operand() for each operand and option() for each option, until the end or an *error.
bool WalkCommandLine(int argc, char** argv, const std::function<void(const std::string&)>& operand,
                     const std::function<void(OptionItem&)>& option, std::string* error);
