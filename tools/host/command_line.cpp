#include "command_line.h"

bool WalkCommandLine(int argc, char** argv, const std::function<void(const std::string&)>& operand,
                     const std::function<void(OptionItem&)>& option, std::string* error) {
    bool optionsEnded = false;
    for (int i = 1; i < argc && error->empty(); ++i) {
        std::string arg = argv[i];
        if (optionsEnded || arg == "-" || arg.size() < 2 || arg[0] != '-') {
            operand(arg);
            continue;
        }
        if (arg == "--") {
            optionsEnded = true;
            continue;
        }
        OptionItem item;
        item.name = arg;
        size_t eq = arg.find('=');
        if (arg.rfind("--", 0) == 0 && eq != std::string::npos) {
            item.name = arg.substr(0, eq);
            item.value = arg.substr(eq + 1);
            item.inlined = true;
        }
        item.takeValue = [&]() -> bool {
            if (item.inlined) return true;
            if (i + 1 >= argc) {
                *error = "option " + item.name + " needs a value";
                return false;
            }
            item.value = argv[++i];
            return true;
        };
        option(item);
    }
    return error->empty();
}
