#include "common/json.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>

namespace {

const char* const document = R"({"data":{"user":"bob","proxy_type":2}})";

// Runs f and returns the bare AERROR value it throws, or -1 when it does not throw.
template <typename F>
int Thrown(F f) {
    try {
        f();
    } catch (AERROR code) {
        return static_cast<int>(code);
    }
    return -1;
}

TEST(JsonPath, FindsMembersByPath) {
    Json json(document);
    EXPECT_TRUE(json.HasObject("/data/user"));
    EXPECT_EQ(static_cast<std::string>(json.GetObject("/data/user")), "bob");
    EXPECT_EQ(static_cast<int>(json.GetObject("/data/proxy_type")), 2);
}

TEST(JsonPath, SeparatorsAreForgiving) {
    Json json(document);
    for (const char* path : {"data/user", "//data/user/", "/data//user", "data/user///"}) {
        ASSERT_TRUE(json.HasObject(path)) << path;
        EXPECT_EQ(static_cast<std::string>(json.GetObject(path)), "bob") << path;
    }
    for (const char* path : {"", "/", "//"}) {
        ASSERT_TRUE(json.HasObject(path)) << path;
        EXPECT_TRUE(json.GetObject(path).HasObject("/data/user")) << "root expected: " << path;
    }
}

TEST(JsonPath, UnresolvedPathsThrowTwoAndHasObjectSaysNo) {
    Json json(R"({"data":{"user":"bob","list":[{"a":1}],"a/b":1}})");
    for (const char* path : {"/data/pwd", "/data/user/x", "/Data/user", "/data/list/0",
                             "/data/list/0/a", "/data/a/b", "/nothing/at/all"}) {
        EXPECT_FALSE(json.HasObject(path)) << path;
        EXPECT_EQ(Thrown([&] { json.GetObject(path); }), ACCESS_VIOLATION) << path;
    }
}

TEST(JsonPath, ObjectPathsAreRelativeToTheirValue) {
    Json json(document);
    JsonObject data = json.GetObject("/data");
    EXPECT_TRUE(data.HasObject("user"));
    EXPECT_FALSE(data.HasObject("/data/user"));
    EXPECT_EQ(Thrown([&] { data.GetObject("pwd"); }), ACCESS_VIOLATION);
}

TEST(JsonPath, FoundValuesOutliveTheDocument) {
    JsonObject user(std::shared_ptr<json_t>{});
    {
        Json json(document);
        user = json.GetObject("/data/user");
    }
    EXPECT_EQ(static_cast<std::string>(user), "bob");
}

TEST(JsonConversions, NumbersStringsAndLiterals) {
    Json json(R"({"i":2,"r":2.0,"t":true,"f":false,"s":"true","n":null,"big":5000000000,
                 "neg":-1,"text":"h\u00e9\u4e2d\ud83d\ude00","err":6001})");
    EXPECT_EQ(static_cast<double>(json.GetObject("i")), 0.0) << "an integer is not a real";
    EXPECT_EQ(static_cast<double>(json.GetObject("r")), 2.0);
    EXPECT_EQ(static_cast<int>(json.GetObject("r")), 0) << "a real is not an integer";
    EXPECT_TRUE(static_cast<bool>(json.GetObject("t")));
    EXPECT_FALSE(static_cast<bool>(json.GetObject("f")));
    EXPECT_FALSE(static_cast<bool>(json.GetObject("s"))) << "the string \"true\" is not true";
    EXPECT_FALSE(static_cast<bool>(json.GetObject("i")));
    EXPECT_FALSE(static_cast<bool>(json.GetObject("n")));
    EXPECT_EQ(static_cast<std::string>(json.GetObject("i")), "") << "a number has no text";
    EXPECT_EQ(static_cast<int>(json.GetObject("s")), 0);

    EXPECT_EQ(static_cast<long long>(json.GetObject("big")), 5000000000LL);
    EXPECT_EQ(static_cast<long>(json.GetObject("big")), 5000000000L);
    EXPECT_EQ(static_cast<int>(json.GetObject("big")),
              static_cast<int>(5000000000LL - 4294967296LL));
    EXPECT_EQ(static_cast<unsigned long long>(json.GetObject("neg")), ULLONG_MAX);
    EXPECT_EQ(static_cast<AERROR>(json.GetObject("err")), JSON_PARSE_ERROR);

    EXPECT_EQ(static_cast<std::string>(json.GetObject("text")),
              "h\xc3\xa9\xe4\xb8\xad\xf0\x9f\x98\x80");
    EXPECT_EQ(static_cast<std::wstring>(json.GetObject("text")), L"h\u00e9\u4e2d\U0001F600");
}

TEST(JsonConversions, NullHandleConvertsToNothing) {
    JsonObject none{std::shared_ptr<json_t>{}};
    EXPECT_EQ(static_cast<std::string>(none), "");
    EXPECT_EQ(static_cast<std::wstring>(none), L"");
    EXPECT_EQ(static_cast<long long>(none), 0);
    EXPECT_EQ(static_cast<double>(none), 0.0);
    EXPECT_FALSE(static_cast<bool>(none));
    EXPECT_EQ(none.GetArraySize(), 0u);
    EXPECT_EQ(none.ToText(), "");
    EXPECT_EQ(none.Iter(), nullptr);
    EXPECT_EQ(none.IterKey(nullptr), "");
    EXPECT_FALSE(none.HasObject("a"));
    EXPECT_FALSE(none.Insert("a", 1));
    EXPECT_EQ(static_cast<std::shared_ptr<json_t>>(none.Copy()), nullptr);
}

TEST(JsonParse, NonJsonTextThrows6001) {
    for (const char* text : {"", "not json", "{\"a\":", "[1,2", "{abc", "{} trailing"}) {
        EXPECT_EQ(Thrown([&] { Json json(text); }), 6001) << text;
    }
    EXPECT_EQ(Thrown([] { Json json(nullptr, 0); }), 6001);
}

TEST(JsonParse, LengthBoundedTextNeedNotBeTerminated) {
    const char bytes[] = {'{', 'a', 'b', 'c', '}'};
    // Only the first four bytes belong to the text: an unterminated object.
    EXPECT_EQ(Thrown([&] { Json json(bytes, 4); }), 6001);
    Json lenient(bytes, 4, 0);
    EXPECT_FALSE(static_cast<bool>(lenient));
    EXPECT_FALSE(lenient.HasObject("a"));
    EXPECT_EQ(lenient.ToText(), "");
    EXPECT_FALSE(lenient.Insert("a", 1));

    const char object[] = {'{', '"', 'k', '"', ':', '1', '}', 'x', 'x'};
    Json bounded(object, 7);
    EXPECT_EQ(static_cast<int>(bounded.GetObject("k")), 1);
}

TEST(JsonParse, NullTextGivesAnEmptyObject) {
    Json json(static_cast<const char*>(nullptr));
    ASSERT_TRUE(static_cast<bool>(json));
    EXPECT_EQ(json.ToText(), "{}");
}

TEST(JsonEdit, InsertReplacesAndSerialisesCompactly) {
    Json json;
    EXPECT_TRUE(json.Insert("a", 1));
    EXPECT_TRUE(json.Insert("b", std::string("x")));
    EXPECT_EQ(json.ToText(), R"({"a":1,"b":"x"})");
    EXPECT_TRUE(json.Insert("a", 2.5));
    EXPECT_TRUE(json.Insert("u", 18446744073709551615ULL));
    EXPECT_TRUE(json.Insert("l", -5LL));
    EXPECT_TRUE(json.Insert("w", std::wstring(L"\u00e9")));
    EXPECT_EQ(json.ToText(), "{\"a\":2.5,\"b\":\"x\",\"u\":-1,\"l\":-5,\"w\":\"\xc3\xa9\"}");
    json.DeleteObject("b");
    json.DeleteObject("missing");
    json.DeleteObject(nullptr);
    EXPECT_FALSE(json.HasObject("b"));
    EXPECT_EQ(json.ToText().find(' '), std::string::npos);
}

TEST(JsonEdit, InsertIntoNonObjectsFails) {
    Json json(R"({"s":"text","arr":[]})");
    JsonObject text = json.GetObject("s");
    EXPECT_FALSE(text.Insert("k", 1));
    JsonObject array = json.GetObject("arr");
    EXPECT_FALSE(array.Insert("k", std::string("v")));
    EXPECT_FALSE(json.Insert(nullptr, 1));
    EXPECT_FALSE(json.Insert("bad", std::string("\xff")))
        << "text that is not UTF-8 is refused, not stored";
    EXPECT_FALSE(json.HasObject("bad"));
}

TEST(JsonEdit, InsertedHandlesAreSharedNotCopied) {
    Json json;
    JsonObject child;
    ASSERT_TRUE(json.Insert("child", child));
    ASSERT_TRUE(child.Insert("late", 7));
    EXPECT_EQ(static_cast<int>(json.GetObject("/child/late")), 7);
    JsonObject copy = json.GetObject("child").Copy();
    ASSERT_TRUE(copy.Insert("only_in_copy", 1));
    EXPECT_FALSE(json.HasObject("/child/only_in_copy"));
    EXPECT_FALSE(child.Insert("self", child)) << "an object cannot contain itself";
}

TEST(JsonEdit, ArrayItemsAppendStringsAndPrependHandles) {
    JsonObject list{std::shared_ptr<json_t>{}};
    EXPECT_TRUE(list.InsertArrayItem(std::string("a")));
    EXPECT_TRUE(list.InsertArrayItem(std::string("b")));
    Json number("[1]");
    JsonObject one = number.GetObject("")[0];
    EXPECT_TRUE(list.InsertArrayItem(one));
    EXPECT_EQ(list.ToText(), R"([1,"a","b"])");
    EXPECT_EQ(list.GetArraySize(), 3u);
    EXPECT_EQ(static_cast<std::string>(list[1]), "a");
    EXPECT_EQ(static_cast<std::shared_ptr<json_t>>(list[3]), nullptr);
    EXPECT_FALSE(list.InsertArrayItem(list)) << "an array cannot contain itself";

    JsonObject was_object;  // a value that is not an array is replaced by one
    EXPECT_TRUE(was_object.InsertArrayItem(std::string("x")));
    EXPECT_EQ(was_object.ToText(), R"(["x"])");
}

TEST(JsonEdit, RebindingAHandleLeavesTheContainerAlone) {
    Json json(document);
    JsonObject user = json.GetObject("/data/user");
    user = std::string("alice");
    EXPECT_EQ(static_cast<std::string>(user), "alice");
    EXPECT_EQ(static_cast<std::string>(json.GetObject("/data/user")), "bob");
}

TEST(JsonIteration, VisitsEveryMember) {
    Json json(R"({"data":{"a":1,"b":2,"c":3}})");
    JsonObject data = json.GetObject("data");
    int sum = 0;
    std::string keys;
    for (void* it = data.Iter(); it != nullptr; it = data.IterNext(it)) {
        keys += data.IterKey(it);
        sum += static_cast<int>(data.IterValue(it));
    }
    EXPECT_EQ(sum, 6);
    EXPECT_EQ(keys.size(), 3u);
    EXPECT_EQ(data.IterNext(nullptr), nullptr);
    EXPECT_EQ(static_cast<std::shared_ptr<json_t>>(data.IterValue(nullptr)), nullptr);
}

TEST(JsonText, InvalidUtf8DecodesToReplacementCharacters) {
    // jansson refuses invalid UTF-8 in documents, so build the value directly.
    std::shared_ptr<json_t> raw(json_stringn_nocheck("a\xff\xc3", 3),
                                [](json_t* p) { json_decref(p); });
    JsonObject text(raw);
    EXPECT_EQ(static_cast<std::wstring>(text), L"a\uFFFD\uFFFD");
    Json json;
    ASSERT_TRUE(json.Insert("w", std::wstring(L"x") + static_cast<wchar_t>(0xD800)));
    EXPECT_EQ(static_cast<std::string>(json.GetObject("w")), "x\xef\xbf\xbd");
}

}  // namespace
