// Reading a password from the terminal without echoing it.
#pragma once

#include <string>

// Prompts on stderr and reads one line from standard input with echo off. Returns false when
// standard input is not a terminal or the read fails (nothing is asked then).
bool PromptPassword(const std::string& prompt, std::string* password);
