// The library's dynamic symbol table must hold the nine entry points and
// nothing else: anything more is a name clash waiting to happen in the host.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

struct Symbol {
    std::string type;
    std::string name;
};

std::vector<Symbol> DefinedDynamicSymbols(const std::string& library) {
    std::vector<Symbol> symbols;
    std::string command = "nm -D --defined-only '" + library + "' 2>&1";
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return symbols;
    char line[4096];
    while (fgets(line, sizeof line, pipe) != nullptr) {
        std::istringstream fields(line);
        std::string address, type, name;
        if (fields >> address >> type >> name) symbols.push_back({type, name});
    }
    EXPECT_EQ(pclose(pipe), 0) << "nm failed on " << library;
    return symbols;
}

std::vector<std::string> Golden() {
    std::ifstream file(WEBDAV_SOURCE_DIR "/tests/abi/exports.txt");
    std::vector<std::string> names;
    for (std::string name; std::getline(file, name);)
        if (!name.empty()) names.push_back(name);
    std::sort(names.begin(), names.end());
    return names;
}

TEST(Exports, ExactlyTheNineEntryPointsAsFunctions) {
    std::vector<std::string> golden = Golden();
    ASSERT_EQ(golden.size(), 9u) << "tests/abi/exports.txt is unreadable or incomplete";

    std::vector<std::string> names;
    for (const Symbol& symbol : DefinedDynamicSymbols(WEBDAV_PLUGIN_PATH)) {
        EXPECT_EQ(symbol.type, "T") << symbol.name << " is exported but is not a function";
        names.push_back(symbol.name);
    }
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, golden);
}

}  // namespace
