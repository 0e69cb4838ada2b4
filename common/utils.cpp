#include "utils.h"
// PLACEHOLDER: replaced by the real implementation.
std::string string_format(std::string, ...) { return {}; }
std::vector<std::string> split(const std::string&, const std::regex&) { return {}; }
std::vector<std::wstring> split(const std::wstring&, const std::wregex&) { return {}; }
void replace_all(std::string&, const std::string&, const std::string&) {}
void replace_all(std::wstring&, const std::wstring&, const std::wstring&) {}
bool IsNameInExpression(const wchar_t*, const wchar_t*, bool) { return false; }
bool IsNameInExpressionA(const char*, const char*, bool) { return false; }
