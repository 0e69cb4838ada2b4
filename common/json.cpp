#include "json.h"

// GCC 12 with the sanitizers reports a false "may be used uninitialized"
// inside <regex> when it builds the path separator's automaton.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

#include <cstdlib>
#include <mutex>
#include <regex>
#include <vector>

#include "utils.h"

namespace {

std::shared_ptr<json_t> Own(json_t* value) {
    if (value == nullptr) return std::shared_ptr<json_t>();
    return std::shared_ptr<json_t>(value, [](json_t* p) { json_decref(p); });
}

const std::regex& PathSeparator() {
    static const std::regex separator("/");
    return separator;
}

json_t* Resolve(json_t* start, const char* path) {
    json_t* current = start;
    for (const std::string& piece : split(path != nullptr ? path : "", PathSeparator())) {
        if (piece.empty()) continue;
        current = json_object_get(current, piece.c_str());
        if (current == nullptr) break;
    }
    return current;
}

void AppendUtf8(std::string& out, unsigned long code) {
    if (code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) code = 0xFFFD;
    if (code < 0x80) {
        out += static_cast<char>(code);
    } else if (code < 0x800) {
        out += static_cast<char>(0xC0 | (code >> 6));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        out += static_cast<char>(0xE0 | (code >> 12));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (code >> 18));
        out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    }
}

// Characters that are not valid Unicode scalar values become U+FFFD.
std::string ToUtf8(const std::wstring& text) {
    std::string out;
    out.reserve(text.size());
    for (wchar_t c : text) AppendUtf8(out, static_cast<unsigned long>(c));
    return out;
}

// Malformed sequences decode to U+FFFD, one per offending byte, rather than
// failing: the text comes from a document we do not control.
std::wstring FromUtf8(const char* text, size_t length) {
    std::wstring out;
    const unsigned char* p = reinterpret_cast<const unsigned char*>(text);
    const unsigned char* end = p + length;
    while (p < end) {
        unsigned char lead = *p;
        unsigned long code = 0;
        size_t extra = 0;
        unsigned long minimum = 0;
        if (lead < 0x80) {
            out += static_cast<wchar_t>(lead);
            ++p;
            continue;
        } else if ((lead & 0xE0) == 0xC0) {
            code = lead & 0x1F, extra = 1, minimum = 0x80;
        } else if ((lead & 0xF0) == 0xE0) {
            code = lead & 0x0F, extra = 2, minimum = 0x800;
        } else if ((lead & 0xF8) == 0xF0) {
            code = lead & 0x07, extra = 3, minimum = 0x10000;
        } else {
            out += static_cast<wchar_t>(0xFFFD);
            ++p;
            continue;
        }
        bool valid = static_cast<size_t>(end - p) > extra;
        for (size_t k = 1; valid && k <= extra; ++k) {
            if ((p[k] & 0xC0) != 0x80)
                valid = false;
            else
                code = (code << 6) | (p[k] & 0x3F);
        }
        if (!valid || code < minimum || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) {
            out += static_cast<wchar_t>(0xFFFD);
            ++p;
            continue;
        }
        out += static_cast<wchar_t>(code);
        p += extra + 1;
    }
    return out;
}

bool SetMember(json_t* object, const char* key, json_t* value) {
    if (object == nullptr || key == nullptr || value == nullptr) {
        json_decref(value);
        return false;
    }
    // json_object_set_new takes the reference even when it refuses.
    return json_object_set_new(object, key, value) == 0;
}

std::string Dump(json_t* value) {
    if (value == nullptr) return std::string();
    char* text = json_dumps(value, JSON_COMPACT);
    if (text == nullptr) return std::string();
    std::string result(text);
    json_free_t release = nullptr;
    json_get_alloc_funcs(nullptr, &release);
    (release != nullptr ? release : free)(text);
    return result;
}

}  // namespace

namespace {

// jansson's allocators are process-wide, and the host may use jansson on threads of its own:
// they are installed once, when the library loads, and never again while anything may parse.
const bool allocatorsInstalled = (json_set_alloc_funcs(malloc, free), true);

}  // namespace

void InitJson() {
    (void)allocatorsInstalled;
}

// ---- JsonObject ----

JsonObject::JsonObject() : value(Own(json_object())) {}

JsonObject::JsonObject(json_t* p) : value(Own(json_incref(p))) {}

JsonObject::JsonObject(std::shared_ptr<json_t> p) : value(std::move(p)) {}

JsonObject::~JsonObject() = default;

JsonObject::operator std::string() {
    const char* text = json_string_value(value.get());
    if (text == nullptr) return std::string();
    return std::string(text, json_string_length(value.get()));
}

JsonObject::operator std::wstring() {
    const char* text = json_string_value(value.get());
    if (text == nullptr) return std::wstring();
    return FromUtf8(text, json_string_length(value.get()));
}

JsonObject::operator unsigned long long() {
    return static_cast<unsigned long long>(json_integer_value(value.get()));
}

JsonObject::operator long long() {
    return static_cast<long long>(json_integer_value(value.get()));
}

JsonObject::operator long() {
    return static_cast<long>(json_integer_value(value.get()));
}

JsonObject::operator int() {
    return static_cast<int>(static_cast<unsigned int>(json_integer_value(value.get())));
}

JsonObject::operator AERROR() {
    return static_cast<AERROR>(static_cast<int>(*this));
}

JsonObject::operator double() {
    return json_real_value(value.get());
}

JsonObject::operator bool() {
    return json_is_true(value.get());
}

JsonObject::operator std::shared_ptr<json_t>() {
    return value;
}

JsonObject& JsonObject::operator=(std::string s) {
    // Text that is not UTF-8 is refused by jansson and leaves a null handle.
    value = Own(json_stringn(s.data(), s.size()));
    return *this;
}

JsonObject JsonObject::GetObject(const char* path) {
    json_t* found = Resolve(value.get(), path);
    if (found == nullptr) throw ACCESS_VIOLATION;
    return JsonObject(found);
}

bool JsonObject::HasObject(const char* path) {
    try {
        return Resolve(value.get(), path) != nullptr;
    } catch (...) {
        return false;
    }
}

JsonObject JsonObject::operator[](size_t i) {
    return JsonObject(json_array_get(value.get(), i));
}

size_t JsonObject::GetArraySize() {
    return json_array_size(value.get());
}

bool JsonObject::Insert(const char* key, std::string v) {
    return SetMember(value.get(), key, json_stringn(v.data(), v.size()));
}

bool JsonObject::Insert(const char* key, std::wstring v) {
    return Insert(key, ToUtf8(v));
}

bool JsonObject::Insert(const char* key, unsigned long long v) {
    return SetMember(value.get(), key, json_integer(static_cast<json_int_t>(v)));
}

bool JsonObject::Insert(const char* key, long long v) {
    return SetMember(value.get(), key, json_integer(static_cast<json_int_t>(v)));
}

bool JsonObject::Insert(const char* key, int v) {
    return SetMember(value.get(), key, json_integer(v));
}

bool JsonObject::Insert(const char* key, double v) {
    return SetMember(value.get(), key, json_real(v));
}

bool JsonObject::Insert(const char* key, JsonObject& v) {
    return SetMember(value.get(), key, json_incref(v.value.get()));
}

bool JsonObject::InsertArrayItem(std::string item) {
    if (!json_is_array(value.get())) value = Own(json_array());
    json_t* text = json_stringn(item.data(), item.size());
    if (value == nullptr || text == nullptr) {
        json_decref(text);
        return false;
    }
    return json_array_append_new(value.get(), text) == 0;
}

bool JsonObject::InsertArrayItem(JsonObject& item) {
    // Hold the item's value first: the preparation below may drop this
    // handle's old value, which can be the item's own.
    std::shared_ptr<json_t> keep = item.value;
    if (!json_is_array(value.get())) value = Own(json_array());
    if (value == nullptr || keep == nullptr) return false;
    return json_array_insert(value.get(), 0, keep.get()) == 0;
}

void* JsonObject::Iter() {
    return json_object_iter(value.get());
}

void* JsonObject::IterNext(void* it) {
    if (it == nullptr) return nullptr;
    return json_object_iter_next(value.get(), it);
}

std::string JsonObject::IterKey(void* it) {
    if (it == nullptr) return std::string();
    const char* key = json_object_iter_key(it);
    return key != nullptr ? std::string(key) : std::string();
}

JsonObject JsonObject::IterValue(void* it) {
    if (it == nullptr) return JsonObject(std::shared_ptr<json_t>());
    return JsonObject(json_object_iter_value(it));
}

JsonObject JsonObject::Copy() {
    return JsonObject(Own(json_deep_copy(value.get())));
}

std::string JsonObject::ToText() {
    return Dump(value.get());
}

// ---- Json ----

Json::Json() : root(Own(json_object())) {}

Json::Json(const char* text) {
    InitJson();
    if (text == nullptr) {
        root = Own(json_object());
        return;
    }
    root = Own(json_loads(text, 0, &error));
    if (root == nullptr) throw JSON_PARSE_ERROR;
}

Json::Json(const char* text, unsigned int length) {
    InitJson();
    if (text != nullptr) root = Own(json_loadb(text, length, 0, &error));
    if (root == nullptr) throw JSON_PARSE_ERROR;
}

Json::Json(const char* text, unsigned int length, unsigned long flags) {
    InitJson();
    if (text != nullptr) root = Own(json_loadb(text, length, flags, &error));
}

Json::~Json() = default;

Json::operator bool() {
    return root != nullptr;
}

JsonObject Json::GetObject(const char* path) {
    return JsonObject(root).GetObject(path);
}

bool Json::HasObject(const char* path) {
    return JsonObject(root).HasObject(path);
}

void Json::DeleteObject(const char* key) {
    if (key != nullptr) json_object_del(root.get(), key);
}

bool Json::Insert(const char* key, std::string value) {
    return JsonObject(root).Insert(key, value);
}

bool Json::Insert(const char* key, std::wstring value) {
    return JsonObject(root).Insert(key, value);
}

bool Json::Insert(const char* key, unsigned long long value) {
    return JsonObject(root).Insert(key, value);
}

bool Json::Insert(const char* key, long long value) {
    return JsonObject(root).Insert(key, value);
}

bool Json::Insert(const char* key, int value) {
    return JsonObject(root).Insert(key, value);
}

bool Json::Insert(const char* key, double value) {
    return JsonObject(root).Insert(key, value);
}

bool Json::Insert(const char* key, JsonObject& value) {
    return JsonObject(root).Insert(key, value);
}

std::string Json::ToText() {
    return Dump(root.get());
}
