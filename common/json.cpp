#include "json.h"
// PLACEHOLDER: replaced by the real implementation.
void InitJson() {}
JsonObject::JsonObject() {}
JsonObject::JsonObject(json_t*) {}
JsonObject::JsonObject(std::shared_ptr<json_t> p) : value(std::move(p)) {}
JsonObject::~JsonObject() = default;
JsonObject::operator std::string() { return {}; }
JsonObject::operator std::wstring() { return {}; }
JsonObject::operator unsigned long long() { return 0; }
JsonObject::operator long long() { return 0; }
JsonObject::operator long() { return 0; }
JsonObject::operator int() { return 0; }
JsonObject::operator AERROR() { return SUCCESS; }
JsonObject::operator double() { return 0; }
JsonObject::operator bool() { return false; }
JsonObject::operator std::shared_ptr<json_t>() { return value; }
JsonObject& JsonObject::operator=(std::string) { return *this; }
JsonObject JsonObject::GetObject(const char*) { throw ACCESS_VIOLATION; }
bool JsonObject::HasObject(const char*) { return false; }
JsonObject JsonObject::operator[](size_t) { return JsonObject(std::shared_ptr<json_t>()); }
size_t JsonObject::GetArraySize() { return 0; }
bool JsonObject::Insert(const char*, std::string) { return false; }
bool JsonObject::Insert(const char*, std::wstring) { return false; }
bool JsonObject::Insert(const char*, unsigned long long) { return false; }
bool JsonObject::Insert(const char*, long long) { return false; }
bool JsonObject::Insert(const char*, int) { return false; }
bool JsonObject::Insert(const char*, double) { return false; }
bool JsonObject::Insert(const char*, JsonObject&) { return false; }
bool JsonObject::InsertArrayItem(std::string) { return false; }
bool JsonObject::InsertArrayItem(JsonObject&) { return false; }
void* JsonObject::Iter() { return nullptr; }
void* JsonObject::IterNext(void*) { return nullptr; }
std::string JsonObject::IterKey(void*) { return {}; }
JsonObject JsonObject::IterValue(void*) { return JsonObject(std::shared_ptr<json_t>()); }
JsonObject JsonObject::Copy() { return *this; }
std::string JsonObject::ToText() { return {}; }
Json::Json() {}
Json::Json(const char*) { throw JSON_PARSE_ERROR; }
Json::Json(const char*, unsigned int) { throw JSON_PARSE_ERROR; }
Json::Json(const char*, unsigned int, unsigned long) {}
Json::~Json() = default;
Json::operator bool() { return root != nullptr; }
JsonObject Json::GetObject(const char*) { throw ACCESS_VIOLATION; }
bool Json::HasObject(const char*) { return false; }
void Json::DeleteObject(const char*) {}
bool Json::Insert(const char*, std::string) { return false; }
bool Json::Insert(const char*, std::wstring) { return false; }
bool Json::Insert(const char*, unsigned long long) { return false; }
bool Json::Insert(const char*, long long) { return false; }
bool Json::Insert(const char*, int) { return false; }
bool Json::Insert(const char*, double) { return false; }
bool Json::Insert(const char*, JsonObject&) { return false; }
std::string Json::ToText() { return {}; }
