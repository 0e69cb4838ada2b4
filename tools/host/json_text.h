// JSON text for the option document handed to the plug-in and for the tools' output.
#pragma once

#include <string>

// A JSON string literal, quotes included; control characters and non-ASCII bytes pass as \u or
// unchanged UTF-8 respectively.
std::string JsonString(const std::string& text);
