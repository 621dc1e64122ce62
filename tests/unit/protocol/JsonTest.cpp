// The JSON helpers: the writer's exact escaping and numbers, first-member-wins parsing with its
// depth bound, the text form of member values and the required-member message.
#include "protocol/Json.h"

#include <cmath>
#include <limits>
#include <string>

#include <gtest/gtest.h>

namespace kelvora::protocol {
namespace {

struct TextCase {
  std::string input;
  std::string expected;
};

TEST(WriteJson, EscapesStringsAsTheClientsExpect) {
  const TextCase cases[] = {
      {"plain ASCII ~", R"("plain ASCII ~")"},
      {"ã", R"("\u00E3")"},
      {"Sessão inválida.", R"("Sess\u00E3o inv\u00E1lida.")"},
      {"€", R"("\u20AC")"},
      {"a/b", R"("a\/b")"},
      {"\"q\" \\", R"("\"q\" \\")"},
      {"\b\t\n\f\r", R"("\b\t\n\f\r")"},
      {"\x01\x1F", R"("\u0001\u001F")"},
      {std::string("a\0b", 3), R"("a\u0000b")"},
      {"\x7F", "\"\x7F\""},
      {"😀", R"("\uD83D\uDE00")"},
      {"\U0010FFFF", R"("\uDBFF\uDFFF")"},
  };
  for (const auto& c : cases) EXPECT_EQ(WriteJson(Json(c.input)), c.expected) << c.input;
}

TEST(WriteJson, InvalidUtf8BecomesOneReplacementPerByte) {
  const TextCase cases[] = {
      {"a\xFF"
       "b",
       R"("a\uFFFDb")"},
      {"\xC3", R"("\uFFFD")"},  // cut short at the end
      {"\xE2\x82"
       "A",
       R"("\uFFFD\uFFFDA")"},                                 // cut short before a letter
      {"\xC0\xAF", R"("\uFFFD\uFFFD")"},                      // overlong "/"
      {"\xED\xA0\x80", R"("\uFFFD\uFFFD\uFFFD")"},            // an encoded surrogate
      {"\xF4\x90\x80\x80", R"("\uFFFD\uFFFD\uFFFD\uFFFD")"},  // beyond U+10FFFF
      {"\x80\xC3\xA3", R"("\uFFFD\u00E3")"},                  // recovers at the next character
  };
  for (const auto& c : cases) EXPECT_EQ(WriteJson(Json(c.input)), c.expected);
}

TEST(WriteJson, IsCompactAndKeepsMemberOrder) {
  Json reply;
  reply["type"] = "error";
  reply["message"] = "Campo route nao encontrado.";
  EXPECT_EQ(WriteJson(reply), R"({"type":"error","message":"Campo route nao encontrado."})");

  const auto parsed = ParseJson(R"( { "z" : 1 , "a" : [ true , false , null , [ ] , { } ] ,
                                      "m/\u00e9" : { "k" : -5 } } )");
  ASSERT_TRUE(parsed);
  EXPECT_EQ(WriteJson(*parsed), R"({"z":1,"a":[true,false,null,[],{}],"m\/\u00E9":{"k":-5}})");
}

TEST(WriteJson, WritesNumbersThatReadBackExactly) {
  const std::pair<Json, std::string> cases[] = {
      {Json(0), "0"},
      {Json(std::numeric_limits<int64_t>::min()), "-9223372036854775808"},
      {Json(std::numeric_limits<uint64_t>::max()), "18446744073709551615"},
      {Json(10.5), "10.5"},
      {Json(100.0), "100"},
      {Json(-2.25), "-2.25"},
      {Json(0.1), "0.1"},
      {Json(0.1 + 0.2), "0.30000000000000004"},
      {Json(1e20), "100000000000000000000"},
      {Json(1e21), "1e+21"},
      {Json(0.000001), "0.000001"},
      {Json(1.5e-7), "1.5e-7"},
      {Json(-0.0), "0"},
      {Json(std::nan("")), "null"},
      {Json(std::numeric_limits<double>::infinity()), "null"},
  };
  for (const auto& [value, expected] : cases) {
    EXPECT_EQ(WriteJson(value), expected);
    if (value.is_number_float() && std::isfinite(value.get<double>())) {
      const auto back = ParseJson(expected);
      ASSERT_TRUE(back) << expected;
      EXPECT_EQ(back->get<double>(), value.get<double>()) << expected;
    }
  }
}

TEST(ParseJson, RefusesWhatIsNotJson) {
  const std::string cases[] = {
      "", "plain words", "{", R"({"a":1} x)", "{'a':1}", "[1,]", "\"\xFF\"", R"({"a":01})",
  };
  for (const auto& text : cases) EXPECT_FALSE(ParseJson(text)) << text;
  EXPECT_EQ(ParseJson("42"), Json(42));
  EXPECT_EQ(ParseJson(R"(["x"])"), Json::array({"x"}));
}

TEST(ParseJson, FirstOccurrenceOfAMemberWinsAtEveryDepth) {
  const TextCase cases[] = {
      {R"({"a":1,"a":2})", R"({"a":1})"},
      {R"({"o":{"a":1,"b":2,"a":3}})", R"({"o":{"a":1,"b":2}})"},
      {R"({"a":{"x":1},"a":{"x":2}})", R"({"a":{"x":1}})"},
      {R"({"p":{"a":1},"q":{"a":2}})", R"({"p":{"a":1},"q":{"a":2}})"},
      {R"([{"a":1,"a":2},{"a":3}])", R"([{"a":1},{"a":3}])"},
      {R"({"a":{"b":1},"b":2,"a":3,"b":4})", R"({"a":{"b":1},"b":2})"},
      // A dropped value that is itself a structure, followed by more members.
      {R"({"a":0,"a":[{"a":1},[{"b":2}]],"b":1})", R"({"a":0,"b":1})"},
      {R"({"a":1,"a":{"x":1,"x":2},"b":2})", R"({"a":1,"b":2})"},
      // Levels used by a dropped value are used again afterwards.
      {R"({"x":{"k":1},"x":{"m":{"n":1}},"y":{"k":2,"k":3,"m":{"n":2,"n":3}}})",
       R"({"x":{"k":1},"y":{"k":2,"m":{"n":2}}})"},
      {R"({"l1":{"l2":{"l3":{"k":"first","k":"second"}},"l2":"dup"},"k":0,"k":1})",
       R"({"l1":{"l2":{"l3":{"k":"first"}}},"k":0})"},
  };
  for (const auto& c : cases) {
    const auto parsed = ParseJson(c.input);
    ASSERT_TRUE(parsed) << c.input;
    EXPECT_EQ(WriteJson(*parsed), c.expected) << c.input;
  }
}

std::string Nested(std::size_t depth, std::string_view open, std::string_view close) {
  std::string text;
  for (std::size_t i = 0; i < depth; ++i) text += open;
  text += "0";
  for (std::size_t i = 0; i < depth; ++i) text += close;
  return text;
}

TEST(ParseJson, BoundsTheNestingDepth) {
  EXPECT_TRUE(ParseJson(Nested(kMaxJsonDepth, "[", "]")));
  EXPECT_FALSE(ParseJson(Nested(kMaxJsonDepth + 1, "[", "]")));
  EXPECT_TRUE(ParseJson(Nested(kMaxJsonDepth - 1, R"({"a":)", "}")));
  EXPECT_FALSE(ParseJson(Nested(kMaxJsonDepth + 1, R"({"a":)", "}")));
  EXPECT_FALSE(ParseJson(Nested(200000, "[", "]")));
  EXPECT_FALSE(ParseJson(std::string(200000, '[')));
}

// A frame may hold up to 1 MiB, so an object can arrive with a hundred thousand members. Each
// member used to be looked for among all earlier ones (minutes of CPU for one frame); here 300 000
// members, with repeated names scattered through them, must parse with the first of each name kept.
TEST(ParseJson, ReadsAnObjectWithVeryManyMembers) {
  constexpr int kMembers = 300000;
  std::string text = "{";
  for (int i = 0; i < kMembers; ++i) {
    text += "\"m" + std::to_string(i) + "\":" + std::to_string(i) + ",";
    if (i % 1000 == 999) text += "\"m" + std::to_string(i / 2) + "\":-1,";
  }
  text += "\"m0\":-1,\"m299999\":-1}";
  const auto parsed = ParseJson(text);
  ASSERT_TRUE(parsed);
  ASSERT_EQ(parsed->size(), static_cast<size_t>(kMembers));
  const auto& members = parsed->get_ref<const Json::object_t&>();
  for (int i = 0; i < kMembers; i += 997) {
    const auto& [name, value] = *std::next(members.begin(), i);
    EXPECT_EQ(name, "m" + std::to_string(i));
    EXPECT_EQ(value, i);
  }
  EXPECT_EQ(parsed->at("m299999"), 299999);
}

TEST(ValueAsText, GivesTheTextFormOfEachKindOfValue) {
  const std::pair<Json, std::string> cases[] = {
      {Json("abc"), "abc"},
      {Json("ã/\""), "ã/\""},
      {Json(42), "42"},
      {Json(-7), "-7"},
      {Json(std::numeric_limits<uint64_t>::max()), "18446744073709551615"},
      {Json(12.5), "12,5"},
      {Json(0.1), "0,1"},
      {Json(-0.5), "-0,5"},
      {Json(100.0), "100"},
      {Json(0.1 + 0.2), "0,3"},
      {Json(1.0 / 3), "0,333333333333333"},
      {Json(123456789012345.0), "123456789012345"},
      {Json(1e15), "1E15"},
      {Json(1e20), "1E20"},
      {Json(-1.5e20), "-1,5E20"},
      {Json(0.0001), "0,0001"},
      {Json(0.00001), "1E-5"},
      {Json(1.5e-7), "1,5E-7"},
      {Json(true), "true"},
      {Json(false), "false"},
      {Json(nullptr), "null"},
      {Json::object({{"a", 1}}), ""},
      {Json::array({1, 2}), ""},
  };
  for (const auto& [value, expected] : cases) EXPECT_EQ(ValueAsText(value), expected) << value;
}

TEST(ValueAsText, ReadsNumbersAsTheyWereParsed) {
  const auto parsed = ParseJson(R"({"i":10,"f":10.0,"g":1.25,"e":2e3})");
  ASSERT_TRUE(parsed);
  EXPECT_EQ(ValueAsText(parsed->at("i")), "10");
  EXPECT_EQ(ValueAsText(parsed->at("f")), "10");
  EXPECT_EQ(ValueAsText(parsed->at("g")), "1,25");
  EXPECT_EQ(ValueAsText(parsed->at("e")), "2000");
}

TEST(GetRequiredField, ReturnsTheTextOrNamesTheMissingMember) {
  const auto request = ParseJson(R"({"route":"/version","sale_id":42,"none":null})");
  ASSERT_TRUE(request);
  EXPECT_EQ(GetRequiredField(*request, "route"), "/version");
  EXPECT_EQ(GetRequiredField(*request, "sale_id"), "42");
  EXPECT_EQ(GetRequiredField(*request, "none"), "null");

  const std::pair<Json, std::string> missing[] = {
      {*request, "session_uuid"},
      {*request, "Route"},  // names are case-sensitive
      {Json::array({"route"}), "route"},
      {Json("route"), "route"},
  };
  for (const auto& [object, name] : missing) {
    try {
      GetRequiredField(object, name);
      ADD_FAILURE() << "no exception for " << name;
    } catch (const EJsonFieldMissing& e) {
      EXPECT_STREQ(e.what(), ("Campo " + name + " nao encontrado.").c_str());
    }
  }
}

}  // namespace
}  // namespace kelvora::protocol
