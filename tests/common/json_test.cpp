// JSON documents addressed by paths: what the connection options are read with.
#include "common/json.h"

#include <gtest/gtest.h>

#include <sstream>

TEST(Json, PathsNameMembersByKeyAndValuesConvertOnlyFromTheirOwnType) {
    Json json(
        R"({"d":{"u":"bob","i":2,"r":2.5,"t":true,"s":"true","n":null,"big":5000000000,"l":[{"a":1}],"a/b":1}})");
    // A path = its value as int, long long, double, bool and text, or the AERROR thrown.
    std::istringstream rows(
        "/d/u=0 0 0 0 bob|d/u=0 0 0 0 bob|//d/u/=0 0 0 0 bob|/d//u=0 0 0 0 bob|/d/i=2 2 0 0 |"
        "/d/r=0 0 2.5 0 |/d/t=0 0 0 1 |/d/s=0 0 0 0 true|/d/n=0 0 0 0 |/d/pwd=2|/d/u/x=2|"
        "/d/big=705032704 5000000000 0 0 |/D/u=2|/d/l/0=2|/d/a/b=2|/=0 0 0 0 |=0 0 0 0 |");
    for (std::string path, values;
         std::getline(rows, path, '=') && std::getline(rows, values, '|');) {
        std::ostringstream got;
        try {
            JsonObject v = json.GetObject(path.c_str());
            got << static_cast<int>(v) << " " << static_cast<long long>(v) << " "
                << static_cast<double>(v) << " " << static_cast<bool>(v) << " "
                << static_cast<std::string>(v);
        } catch (AERROR code) {
            got << code;
        }
        EXPECT_EQ(got.str() + " " + std::to_string(json.HasObject(path.c_str())),
                  values + (values == "2" ? " 0" : " 1"));
    }
    JsonObject user = Json(R"({"u":"bob"})").GetObject("u");
    EXPECT_EQ(static_cast<std::string>(user), "bob") << "a found value outlives its document";
    EXPECT_EQ(static_cast<int>(Json("{\"k\":1}xx", 7).GetObject("k")), 1);
    for (const char* text : {"{abc}", "", "{} trailing"})  // of "{abc}" only four bytes count
        EXPECT_THROW(Json(text, text[0] ? 4 : 0), AERROR);
    Json made;  // handles are shared, not copied, and an array takes one in front
    JsonObject c, l{std::shared_ptr<json_t>{}};
    EXPECT_TRUE(made.Insert("c", c) && l.InsertArrayItem(std::string("a")) && l.InsertArrayItem(c));
    EXPECT_TRUE(c.Insert("n", 1) && made.Insert("l", l));
    EXPECT_EQ(made.ToText(), R"({"c":{"n":1},"l":[{"n":1},"a"]})");
}
