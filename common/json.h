// JSON documents over jansson, with values addressed by "/"-separated paths.
// Errors are thrown as bare AERROR values: 2 for a path that does not
// resolve, 6001 for a text that is not JSON.
#pragma once

#include <jansson.h>

#include <memory>
#include <string>

#include "../compiled/aerror.h"

void InitJson();

class JsonObject {
public:
    JsonObject();
    explicit JsonObject(json_t* p);
    explicit JsonObject(std::shared_ptr<json_t> p);
    virtual ~JsonObject();

    operator std::string();
    operator std::wstring();
    operator unsigned long long();
    operator long long();
    operator long();
    operator int();
    operator AERROR();
    operator double();
    operator bool();
    operator std::shared_ptr<json_t>();
    JsonObject& operator=(std::string s);

    JsonObject GetObject(const char* path);
    bool HasObject(const char* path);
    JsonObject operator[](size_t i);
    size_t GetArraySize();

    bool Insert(const char* key, std::string value);
    bool Insert(const char* key, std::wstring value);
    bool Insert(const char* key, unsigned long long value);
    bool Insert(const char* key, long long value);
    bool Insert(const char* key, int value);
    bool Insert(const char* key, double value);
    bool Insert(const char* key, JsonObject& value);
    bool InsertArrayItem(std::string value);
    bool InsertArrayItem(JsonObject& item);

    void* Iter();
    void* IterNext(void* it);
    std::string IterKey(void* it);
    JsonObject IterValue(void* it);

    JsonObject Copy();
    std::string ToText();

private:
    std::shared_ptr<json_t> value;
};

class Json {
public:
    Json();
    explicit Json(const char* text);
    Json(const char* text, unsigned int length);
    Json(const char* text, unsigned int length, unsigned long flags);
    virtual ~Json();

    explicit operator bool();
    JsonObject GetObject(const char* path);
    bool HasObject(const char* path);
    void DeleteObject(const char* key);

    bool Insert(const char* key, std::string value);
    bool Insert(const char* key, std::wstring value);
    bool Insert(const char* key, unsigned long long value);
    bool Insert(const char* key, long long value);
    bool Insert(const char* key, int value);
    bool Insert(const char* key, double value);
    bool Insert(const char* key, JsonObject& value);

    std::string ToText();

private:
    json_error_t error{};
    std::shared_ptr<json_t> root;
};
