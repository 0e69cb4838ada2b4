#pragma once

#include <regex>
#include <string>
#include <vector>

std::string string_format(std::string format, ...);

std::vector<std::string> split(const std::string& text, const std::regex& separator);
std::vector<std::wstring> split(const std::wstring& text, const std::wregex& separator);

void replace_all(std::string& text, const std::string& from, const std::string& to);
void replace_all(std::wstring& text, const std::wstring& from, const std::wstring& to);

// File-system style wildcard matching: * ? and the extended < > " wildcards.
bool IsNameInExpression(const wchar_t* expression, const wchar_t* name, bool ignoreCase);
bool IsNameInExpressionA(const char* expression, const char* name, bool ignoreCase);
