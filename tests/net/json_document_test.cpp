#include "net/json_document.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <limits>
#include <string>
#include <vector>

#include "support/sandbox.h"

namespace korvid {
namespace {

constexpr const char* kPagesText = R"({"code":0,"data":{"pages":[{"cid":123,"part":"P1"}]}})";

JsonDocument Parsed(const std::string& text) {
  JsonDocument document;
  EXPECT_TRUE(document.Parse(text)) << text;
  return document;
}

std::string Nested(int depth) {
  return std::string(static_cast<std::size_t>(depth), '[') +
         std::string(static_cast<std::size_t>(depth), ']');
}

std::string ApiFixture(const std::string& name) {
  return test::ReadWholeFile(std::filesystem::path(KORVID_TEST_DATA_DIR) / "api" / name);
}

// ---- Paths -------------------------------------------------------------------

TEST(JsonDocumentPathTest, ReadsThePageListByPath) {
  const JsonDocument document = Parsed(kPagesText);
  EXPECT_EQ(document.GetValue("data.pages[0].cid"), "123");
  EXPECT_EQ(document.GetCount("data.pages"), 1);
  EXPECT_EQ(document.GetCount("data"), 0);  // objects have no count
  EXPECT_EQ(document.GetValue("data.pages[1].cid"), "");
  EXPECT_EQ(document.GetValue("code"), "0");
}

TEST(JsonDocumentPathTest, BracketFormsReadTheSameAsDottedOnes) {
  const JsonDocument document = Parsed(ApiFixture("space_myinfo.json"));
  EXPECT_EQ(document.GetValue("data['level_exp']['current_exp']"), "27125");
  EXPECT_EQ(document.GetValue(R"(data["level_exp"].current_exp)"), "27125");
  EXPECT_EQ(document.GetValue("data.level_exp.current_exp"), "27125");
  const JsonDocument pages = Parsed(kPagesText);
  EXPECT_EQ(pages.GetValue(R"(['data']["pages"][0]['part'])"), "P1");
}

TEST(JsonDocumentPathTest, PathStartingWithBracketReadsARootArray) {
  const JsonDocument document = Parsed(R"([{"Id":"5"},{"Id":"6","Name":"n"}])");
  EXPECT_EQ(document.GetValue("[0].Id"), "5");
  EXPECT_EQ(document.GetValue("[1]['Name']"), "n");
  EXPECT_EQ(document.GetValue("[2].Id"), "");
  EXPECT_EQ(document.GetCount(""), 2);
}

TEST(JsonDocumentPathTest, NamesWithDotsSpacesOrDigitsNeedQuotes) {
  const JsonDocument document =
      Parsed(R"({"a.b":1,"a":{"b":2},"x y":3,"120":"n","list":["p","q"],"中文":"z"})");
  EXPECT_EQ(document.GetValue("['a.b']"), "1");
  EXPECT_EQ(document.GetValue("a.b"), "2");
  EXPECT_EQ(document.GetValue("['x y']"), "3");
  EXPECT_EQ(document.GetValue("[120]"), "n");  // an index on an object names a member
  EXPECT_EQ(document.GetValue("list['1']"), "q");
  EXPECT_EQ(document.GetValue("list['01']"), "");
  EXPECT_EQ(document.GetValue("中文"), "z");
}

TEST(JsonDocumentPathTest, MalformedPathsAreMissingAndWriteNothing) {
  JsonDocument document = Parsed(R"({"a":{"b":[1,2]}})");
  for (const char* path : {"a..b", "a.", ".a", "a[", "a[x]", "a[-1]", "a.b[0", "a['b]", "a]b",
                           "a.b[99999999999999999999999]"}) {
    EXPECT_FALSE(document.Exists(path)) << path;
    EXPECT_EQ(document.GetValue(path), "") << path;
    EXPECT_FALSE(document.SetValue(path, "x")) << path;
  }
  EXPECT_EQ(document.ToText(), R"({"a":{"b":[1,2]}})");
}

TEST(JsonDocumentPathTest, ResolvePathGivesTheRootedFormAndExistence) {
  const JsonDocument document = Parsed(R"({"data":{"pages":[{"cid":1}],"n":null,"a b":2}})");
  std::string path = "data.pages[0].cid";
  EXPECT_TRUE(document.ResolvePath(path));
  EXPECT_EQ(path, "$.data.pages[0].cid");
  path = "data['a b']";
  EXPECT_TRUE(document.ResolvePath(path));
  EXPECT_EQ(path, R"($.data["a b"])");
  path = "data.n";
  EXPECT_FALSE(document.ResolvePath(path));  // null counts as absent
  path = "";
  EXPECT_TRUE(document.ResolvePath(path));
  EXPECT_EQ(path, "$");
  path = "a..b";
  EXPECT_FALSE(document.ResolvePath(path));
  EXPECT_EQ(path, "a..b");
}

// ---- Conversions to text -------------------------------------------------------

TEST(JsonDocumentTextTest, NumbersReadTheWayScriptsPrintThem) {
  const JsonDocument document = Parsed(
      R"([0,-0,1.0,123.456,0.1,1e21,1e20,123456789012345680000,1.5e-7,0.000001,1e-7,-2.5,1e300,5e-324])");
  const std::vector<std::string> expected = {"0",
                                             "0",
                                             "1",
                                             "123.456",
                                             "0.1",
                                             "1e+21",
                                             "100000000000000000000",
                                             "123456789012345680000",
                                             "1.5e-7",
                                             "0.000001",
                                             "1e-7",
                                             "-2.5",
                                             "1e+300",
                                             "5e-324"};
  for (std::size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(document.GetItemValue(static_cast<int>(i)), expected[i]) << i;
  }
  EXPECT_EQ(FormatJsonNumber(0.1 + 0.2), "0.30000000000000004");
}

TEST(JsonDocumentTextTest, IntegersKeepEveryDigitInEveryConversion) {
  JsonDocument document =
      Parsed(R"({"cid":35306865840,"max":18446744073709551615,"odd":9007199254740993,)"
             R"("min":-9223372036854775808})");
  EXPECT_EQ(document.GetValue("cid"), "35306865840");
  EXPECT_EQ(document.GetValue("max"), "18446744073709551615");
  EXPECT_EQ(document.GetValue("odd"), "9007199254740993");
  EXPECT_EQ(document.GetJson("odd"), "9007199254740993");
  EXPECT_EQ(document.GetObject("odd").ToText(), "9007199254740993");
  EXPECT_EQ(document.GetValue("min"), "-9223372036854775808");
  std::vector<std::string> values;
  document.GetAllValues(values);
  EXPECT_EQ(values[2], "9007199254740993");
  EXPECT_EQ(document.ToText(),
            R"({"cid":35306865840,"max":18446744073709551615,"odd":9007199254740993,)"
            R"("min":-9223372036854775808})");
  // Beyond 64 bits the number is a double, as a script would hold it.
  document.Parse(R"({"big":184467440737095516150})");
  EXPECT_EQ(document.GetValue("big"), "184467440737095500000");
}

TEST(JsonDocumentTextTest, ValuesOfEachKindBecomeText) {
  const JsonDocument document = Parsed(
      R"({"t":true,"f":false,"s":"a\"b\\c\u4e2d","o":{"k":1},"a":[1,"x",[2,3],null,{"k":1},true],)"
      R"("e":[],"n":null})");
  EXPECT_EQ(document.GetValue("t"), "true");
  EXPECT_EQ(document.GetValue("f"), "false");
  EXPECT_EQ(document.GetValue("s"), "a\"b\\c中");
  EXPECT_EQ(document.GetValue("o"), "[object Object]");
  EXPECT_EQ(document.GetValue("o", true), R"({"k":1})");
  EXPECT_EQ(document.GetValue("a"), "1,x,2,3,,[object Object],true");
  EXPECT_EQ(document.GetValue("e"), "");
  EXPECT_EQ(document.GetValue("n"), "");
  EXPECT_EQ(document.GetValue("missing"), "");
  EXPECT_EQ(document.GetJson("n"), "null");
  EXPECT_EQ(document.GetJson("missing"), "");
}

TEST(JsonDocumentTextTest, SerialisationIsCompactWithMinimalEscapes) {
  JsonDocument document;
  ASSERT_TRUE(document.SetExpression(
      "v", R"(["q\"b\\s/\b\f\n\r\t\u0001\u001f\u007f","中文😀",1.5,{"a":[]}])"));
  EXPECT_EQ(document.GetJson("v"),
            "[\"q\\\"b\\\\s/\\b\\f\\n\\r\\t\\u0001\\u001f\x7f\",\"中文😀\",1.5,{\"a\":[]}]");
}

TEST(JsonDocumentTextTest, MembersKeepTheirOrder) {
  const JsonDocument document = Parsed(R"({"z":1,"a":2,"m":{"y":1,"b":2}})");
  EXPECT_EQ(document.ToText(), R"({"z":1,"a":2,"m":{"y":1,"b":2}})");
  std::vector<std::string> names{"stale"};
  EXPECT_EQ(document.GetNames(names, "m"), 2);
  EXPECT_EQ(names, (std::vector<std::string>{"y", "b"}));
  EXPECT_EQ(document.GetNames(names, "z"), 0);
  EXPECT_TRUE(names.empty());
}

// ---- Backslashes set as text -----------------------------------------------------

TEST(JsonDocumentEscapeTest, WindowsPathSetAsTextReadsBackUnchanged) {
  JsonDocument document;
  const std::string path = R"(C:\Users\name\下载\new\t.mp4)";
  ASSERT_TRUE(document.SetValue("file", path));
  EXPECT_EQ(document.GetValue("file"), path);
  std::vector<std::string> values;
  document.GetAllValues(values);
  EXPECT_EQ(values, std::vector<std::string>{path});
}

TEST(JsonDocumentEscapeTest, SerialisedTextStaysValidJsonAndRoundTrips) {
  JsonDocument document;
  ASSERT_TRUE(document.SetValue("file", R"(a\n\"b)"));
  EXPECT_EQ(document.ToText(), R"({"file":"a\\n\\\"b"})");
  JsonDocument again;
  ASSERT_TRUE(again.Parse(document.ToText()));
  EXPECT_EQ(again.GetValue("file"), R"(a\n\"b)");
}

TEST(JsonDocumentEscapeTest, MarkerCharacterFromParsedTextReadsAsBackslash) {
  const JsonDocument document = Parsed("{\"a\":\"x\xE2\x90\x80y\",\"b\":\"x\\\\y\"}");
  EXPECT_EQ(document.GetValue("a"), "x\\y");
  EXPECT_EQ(document.GetValue("b"), "x\\y");
}

// ---- Parse -------------------------------------------------------------------------

TEST(JsonDocumentParseTest, TextThatIsNotJsonFailsAndLeavesANullRoot) {
  for (const char* text :
       {"", "   ", "{", "{\"a\":}", "[1,,2]", "tru", "{'a':1}", "1 2", "null", "\"unterminated"}) {
    JsonDocument document = Parsed(kPagesText);
    EXPECT_FALSE(document.Parse(text)) << text;
    EXPECT_EQ(document.GetValue("code"), "") << text;
    EXPECT_EQ(document.GetCount("data.pages"), 0);
    EXPECT_FALSE(document.Exists(""));
    EXPECT_EQ(document.TypeOf(""), kJsonMissing);
    EXPECT_EQ(document.ToText(), "null");
    EXPECT_FALSE(document.SetValue("a", "1"));  // nothing to write into
  }
}

TEST(JsonDocumentParseTest, TrailingDataAfterANulIsRefused) {
  const std::vector<std::string> texts = {std::string("{\"a\":1}\0garbage", 15),
                                          std::string("{\"a\":1}\0", 8),
                                          std::string("[1,\0 2]", 7)};
  for (const std::string& text : texts) {
    JsonDocument document;
    JsonParseError error;
    EXPECT_FALSE(document.Parse(text, false, &error)) << text;
    EXPECT_EQ(error.number, kJsonErrorNul);
    EXPECT_EQ(document.ToText(), "null");
  }
}

TEST(JsonDocumentParseTest, ErrorRecordLocatesTheFailure) {
  JsonDocument document;
  JsonParseError error;
  EXPECT_FALSE(document.Parse("{\"a\":1,\n \"b\":中,}", false, &error));
  EXPECT_EQ(error.number, 101);
  EXPECT_EQ(error.source, "JsonDocument");
  EXPECT_NE(error.description.find("syntax error"), std::string::npos) << error.description;
  EXPECT_EQ(error.line, 2);
  EXPECT_EQ(error.column, 6);
  EXPECT_EQ(error.text.substr(0, 3), "中");
  EXPECT_TRUE(document.Parse("[1]", false, &error));
  EXPECT_EQ(error.number, 0);
  EXPECT_TRUE(error.description.empty());
}

TEST(JsonDocumentParseTest, AnyJsonValueCanBeTheRoot) {
  JsonDocument document;
  EXPECT_TRUE(document.Parse("5"));
  EXPECT_EQ(document.GetValue(""), "5");
  EXPECT_TRUE(document.Parse(" \"s\" ", true));
  EXPECT_EQ(document.GetValue(""), "s");
  EXPECT_TRUE(document.Parse("false"));
  EXPECT_EQ(document.TypeOf(""), kJsonBoolean);
  EXPECT_TRUE(document.Parse("\xEF\xBB\xBF{\"a\":1}"));  // byte-order mark
  EXPECT_EQ(document.GetValue("a"), "1");
}

TEST(JsonDocumentParseTest, DeepNestingIsRefusedWithoutCrashing) {
  JsonDocument document;
  JsonParseError error;
  EXPECT_FALSE(document.Parse(Nested(10'000), false, &error));
  EXPECT_EQ(error.number, kJsonErrorTooDeep);
  EXPECT_EQ(error.byte, static_cast<std::size_t>(JsonDocument::kMaxDepth));
  EXPECT_FALSE(document.Parse(std::string(100'000, '{')));
  EXPECT_FALSE(document.Parse(Nested(JsonDocument::kMaxDepth + 1)));
  EXPECT_TRUE(document.Parse(Nested(JsonDocument::kMaxDepth)));
  EXPECT_EQ(document.GetJson().size(), static_cast<std::size_t>(2 * JsonDocument::kMaxDepth));
  // Brackets inside strings are text, not nesting.
  EXPECT_TRUE(document.Parse("{\"s\":\"" + std::string(10'000, '[') + "\\\"]\"}"));
}

TEST(JsonDocumentParseTest, WritesCannotNestBeyondTheLimit) {
  JsonDocument document;
  ASSERT_TRUE(document.Parse(Nested(JsonDocument::kMaxDepth - 1)));
  EXPECT_FALSE(document.SetExpression("[0]", Nested(JsonDocument::kMaxDepth)));
  EXPECT_TRUE(document.SetExpression("[0]", Nested(JsonDocument::kMaxDepth - 1)));
  std::string deepPath;
  for (int i = 0; i < JsonDocument::kMaxDepth - 2; ++i) deepPath += "[0]";
  EXPECT_FALSE(document.Append(deepPath, "[[1]]", true));
  EXPECT_TRUE(document.Append(deepPath, "[1]", true));
}

TEST(JsonDocumentParseTest, IllFormedUtf8InStringsBecomesReplacementCharacters) {
  JsonDocument document;
  ASSERT_TRUE(
      document.Parse("{\"t\":\"a\xFF\xC0\xAF"
                     "b\",\"u\":\"\xED\xA0\x80\"}"));
  EXPECT_EQ(document.GetValue("t"),
            "a\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"
            "b");
  ASSERT_TRUE(document.SetValue("v", "x\xE4\xB8"));
  EXPECT_EQ(document.GetValue("v"), "x\xEF\xBF\xBD\xEF\xBF\xBD");
  ASSERT_TRUE(document.SetValue("bad\xF7name", "1"));  // names are repaired too
  JsonDocument again;
  ASSERT_TRUE(again.Parse(document.ToText()));
  EXPECT_EQ(again.ToText(), document.ToText());
  EXPECT_EQ(again.GetValue("bad\xEF\xBF\xBDname"), "1");
}

TEST(JsonDocumentParseTest, DuplicateMemberNamesKeepTheLastValueAtTheFirstPlace) {
  const JsonDocument document = Parsed(R"({"a":1,"b":2,"a":{"c":3}})");
  EXPECT_EQ(document.GetValue("a.c"), "3");
  EXPECT_EQ(document.ToText(), R"({"a":{"c":3},"b":2})");

  // The same in an object large enough to be indexed by name while it is read.
  std::string text = "{";
  for (int i = 0; i < 100; ++i) text += "\"k" + std::to_string(i) + "\":" + std::to_string(i) + ",";
  text += R"("k5":"five","k99":{"x":1}})";
  const JsonDocument large = Parsed(text);
  std::vector<std::string> names;
  EXPECT_EQ(large.GetNames(names), 100);
  EXPECT_EQ(names[5], "k5");
  EXPECT_EQ(large.GetValue("k5"), "five");
  EXPECT_EQ(large.GetValue("k99.x"), "1");
  EXPECT_EQ(large.GetValue("k98"), "98");
}

TEST(JsonDocumentParseTest, EveryFixtureParses) {
  const auto folder = std::filesystem::path(KORVID_TEST_DATA_DIR) / "api";
  int parsed = 0;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    if (entry.path().extension() != ".json") continue;
    JsonDocument document;
    EXPECT_TRUE(document.Parse(test::ReadWholeFile(entry.path()))) << entry.path();
    JsonDocument again;
    EXPECT_TRUE(again.Parse(document.ToText())) << entry.path();
    EXPECT_EQ(again.ToText(), document.ToText()) << entry.path();
    ++parsed;
  }
  EXPECT_GE(parsed, 20);
}

TEST(JsonDocumentParseTest, FixtureValuesReadAsTheProgramNeedsThem) {
  const JsonDocument view = Parsed(ApiFixture("view_BV117411r7R1_staff2.json"));
  EXPECT_EQ(view.GetValue("data.bvid"), "BV117411r7R1");
  EXPECT_EQ(view.GetJson("data.title"), "\"当我给拜年祭的快板加了电音配乐…\"");
  EXPECT_EQ(view.GetCount("data.staff"), 2);
  EXPECT_EQ(view.GetValue("data.staff[1].name"), "Warma");
  EXPECT_EQ(view.GetObject("data.pages[0].cid").ToText(), "146044693");
  EXPECT_NE(view.GetValue("data.desc").find("\n【Warma想说的】"), std::string::npos);

  const JsonDocument detail = Parsed(ApiFixture("view_detail_BV17x411w7KC_10pages.json"));
  EXPECT_EQ(detail.GetCount("data.View.pages"), 10);
  EXPECT_EQ(detail.GetValue("data.View.pages[9].part"), "Gadna poroda");
  EXPECT_EQ(detail.GetJson("data.View.dimension.height"), "288");

  const JsonDocument dash = Parsed(ApiFixture("playurl_dash_BV1pR6UB3ENW_avc_hevc_av1.json"));
  EXPECT_EQ(dash.GetCount("data.dash.video"), 15);
  EXPECT_EQ(dash.GetValue("data.dash.video[0].codecs"), "avc1.640033");
  EXPECT_EQ(dash.GetValue("message"), "OK");

  const JsonDocument flv = Parsed(ApiFixture("playurl_durl_flv_BV1y7411Q7Eq.json"));
  const std::string url = flv.GetValue("data.durl[0].url");
  EXPECT_EQ(url.find("\\u0026"), std::string::npos);
  EXPECT_NE(url.find('&'), std::string::npos);

  const JsonDocument poll = Parsed(ApiFixture("qrcode_getLoginInfo_old_not_scanned_-4.json"));
  EXPECT_EQ(poll.GetValue("data"), "-4");
  EXPECT_EQ(poll.GetValue("code"), "");
  EXPECT_EQ(poll.GetValue("status"), "false");
}

// ---- Sharing and copies ------------------------------------------------------------------

TEST(JsonDocumentShareTest, CopiesShareOneTreeAndSubDocumentsAreIndependent) {
  JsonDocument original = Parsed(R"({"a":{"b":1}})");
  JsonDocument handle = original;
  JsonDocument sub = original.GetObject("a");
  ASSERT_TRUE(handle.SetValue("a.b", "2"));
  EXPECT_EQ(original.GetValue("a.b"), "2");
  EXPECT_EQ(sub.GetValue("b"), "1");
  ASSERT_TRUE(sub.SetValue("b", "3"));
  EXPECT_EQ(original.GetValue("a.b"), "2");
  JsonDocument assigned;
  assigned = original;
  ASSERT_TRUE(original.Parse("[7]"));
  EXPECT_EQ(assigned.GetValue("[0]"), "7");
  JsonDocument moved = std::move(assigned);
  EXPECT_EQ(moved.GetValue("[0]"), "7");
}

TEST(JsonDocumentShareTest, MissingSubDocumentHasANullRoot) {
  const JsonDocument document = Parsed(R"({"list":[{"x":1}]})");
  const JsonDocument missing = document.GetObject("nothing");
  EXPECT_EQ(missing.ToText(), "null");
  EXPECT_FALSE(missing.Exists(""));
  EXPECT_EQ(document.GetItemObject(0, "list").GetValue("x"), "1");
  EXPECT_EQ(document.GetItemObject(1, "list").ToText(), "null");
  EXPECT_EQ(document.GetItemObject(-1, "list").ToText(), "null");
}

// ---- Writes -------------------------------------------------------------------------------

TEST(JsonDocumentWriteTest, AFreshDocumentIsAnEmptyObject) {
  JsonDocument document;
  EXPECT_EQ(document.ToText(), "{}");
  ASSERT_TRUE(document.SetValue("任务id", "3"));
  ASSERT_TRUE(document.SetValue("音视分离", "真"));
  EXPECT_EQ(document.ToText(), R"({"任务id":"3","音视分离":"真"})");
  document.Clear();
  EXPECT_EQ(document.ToText(), "{}");
  ASSERT_TRUE(document.Parse("[1]"));
  EXPECT_TRUE(document.Create());
  EXPECT_EQ(document.ToText(), "{}");
}

TEST(JsonDocumentWriteTest, WriteThroughAMissingMemberFailsAndChangesNothing) {
  JsonDocument document = Parsed(R"({"a":{"s":"x"},"list":[1]})");
  EXPECT_FALSE(document.SetValue("b.c", "1"));
  EXPECT_FALSE(document.SetNumber("b.c", 1));
  EXPECT_FALSE(document.Append("b.c", "1"));
  EXPECT_FALSE(document.SetExpression("a.s.t", "1"));  // through a string
  EXPECT_FALSE(document.SetValue("list[2]", "x"));     // past the end
  EXPECT_FALSE(document.SetItem(5, "list", "x"));
  EXPECT_FALSE(document.SetValue("list.name", "x"));
  EXPECT_EQ(document.ToText(), R"({"a":{"s":"x"},"list":[1]})");
  EXPECT_TRUE(document.SetValue("list[1]", "x"));  // just past the end appends
  EXPECT_TRUE(document.SetItem(0, "list", "0", true));
  EXPECT_EQ(document.GetJson("list"), R"([0,"x"])");
}

TEST(JsonDocumentWriteTest, SetValueAsJsonExtendsObjectsAndArrays) {
  JsonDocument document = Parsed(
      R"({"o":{"s":"old","b":true,"n":1,"z":null,"inner":{"k":1,"keep":2},"arr":[1],"o2":{"x":1}}})");
  ASSERT_TRUE(document.SetValue(
      "o", R"({"s":"new","b":false,"n":2,"z":3,"inner":{"k":9},"arr":[2,3],"o2":"flat","add":[]})",
      true));
  EXPECT_EQ(document.GetJson("o"),
            R"({"s":"new","b":false,"n":2,"z":3,"inner":{"k":9,"keep":2},"arr":[1,2,3],)"
            R"("o2":"flat","add":[]})");
  // Only an object merges; an array at the path is replaced like any value.
  ASSERT_TRUE(document.SetValue("o.arr", "4", true));
  EXPECT_EQ(document.GetJson("o.arr"), "4");
  ASSERT_TRUE(document.SetValue("o.add", "[5]", true));
  EXPECT_EQ(document.GetJson("o.add"), "[5]");
  ASSERT_TRUE(document.SetValue("o.s", R"({"now":"object"})", true));  // not an object: replaced
  EXPECT_EQ(document.GetJson("o.s"), R"({"now":"object"})");
  ASSERT_TRUE(document.SetValue("o.inner", "", true));  // empty counts as {}
  EXPECT_EQ(document.GetJson("o.inner"), R"({"k":9,"keep":2})");
  EXPECT_FALSE(document.SetValue("o.inner", "{bad", true));
  EXPECT_EQ(document.GetJson("o.inner"), R"({"k":9,"keep":2})");
  ASSERT_TRUE(document.SetValue("o.inner", "7", true));
  EXPECT_EQ(document.GetJson("o.inner"), "7");
}

// 40,000 members into 40,000: the merge must stay close to linear (it once
// took minutes).
TEST(JsonDocumentWriteTest, MergingManyMembersKeepsOrderAndNewValues) {
  constexpr int kMembers = 40'000;
  std::string target = "{";
  std::string source = "{";
  for (int i = 0; i < kMembers; ++i) {
    const std::string comma = i == 0 ? "" : ",";
    target += comma + "\"k" + std::to_string(i) + "\":0";
    source += comma + "\"k" + std::to_string(i + kMembers / 2) + "\":1";
  }
  JsonDocument document = Parsed(target + "}");
  ASSERT_TRUE(document.SetValue("", source + "}", true));
  std::vector<std::string> names;
  ASSERT_EQ(document.GetNames(names), kMembers + kMembers / 2);
  EXPECT_EQ(names.back(), "k" + std::to_string(kMembers + kMembers / 2 - 1));
  EXPECT_EQ(document.GetValue("k0"), "0");
  EXPECT_EQ(document.GetValue("k" + std::to_string(kMembers / 2)), "1");
}

TEST(JsonDocumentWriteTest, AppendReplacesNonArraysAndAddsAtEitherEnd) {
  JsonDocument document = Parsed(R"({"list":[2],"s":"x"})");
  ASSERT_TRUE(document.Append("list", "3"));
  ASSERT_TRUE(document.Append("list", "1", true, true));
  ASSERT_TRUE(document.Append("list", R"({"a":1})", true));
  EXPECT_EQ(document.GetJson("list"), R"([1,2,"3",{"a":1}])");
  ASSERT_TRUE(document.Append("s", "y"));
  ASSERT_TRUE(document.Append("fresh", "z"));
  EXPECT_EQ(document.GetJson("s"), R"(["y"])");
  EXPECT_EQ(document.GetJson("fresh"), R"(["z"])");
  EXPECT_FALSE(document.Append("list", "[", true));
}

TEST(JsonDocumentWriteTest, RemoveItemAndDeleteCloseGaps) {
  JsonDocument document = Parsed(R"({"list":[1,2,3],"a":{"b":1,"c":2}})");
  EXPECT_TRUE(document.RemoveItem(1, "list"));
  EXPECT_FALSE(document.RemoveItem(2, "list"));
  EXPECT_FALSE(document.RemoveItem(-1, "list"));
  EXPECT_FALSE(document.RemoveItem(0, "a"));
  EXPECT_EQ(document.GetJson("list"), "[1,3]");
  EXPECT_TRUE(document.Delete("a.b"));
  EXPECT_FALSE(document.Delete("a.b"));
  EXPECT_TRUE(document.Delete("list[0]"));
  EXPECT_EQ(document.ToText(), R"({"list":[3],"a":{"c":2}})");
}

TEST(JsonDocumentWriteTest, NumbersStoreAndReadAsDoubles) {
  JsonDocument document = Parsed(R"({"s":"12.5","t":"x","b":true,"i":35306865840})");
  ASSERT_TRUE(document.SetNumber("n", 3.0));
  ASSERT_TRUE(document.SetNumber("f", 0.25));
  EXPECT_EQ(document.GetJson("n"), "3");
  EXPECT_EQ(document.GetValue("f"), "0.25");
  EXPECT_EQ(document.TypeOf("n"), kJsonNumber);
  EXPECT_FALSE(document.SetNumber("nan", std::nan("")));
  EXPECT_FALSE(document.SetNumber("inf", std::numeric_limits<double>::infinity()));
  EXPECT_FALSE(document.Exists("nan"));
  EXPECT_DOUBLE_EQ(document.GetNumber("f"), 0.25);
  EXPECT_DOUBLE_EQ(document.GetNumber("s"), 12.5);
  EXPECT_DOUBLE_EQ(document.GetNumber("t"), 0);
  EXPECT_DOUBLE_EQ(document.GetNumber("b"), 1);
  EXPECT_DOUBLE_EQ(document.GetNumber("i"), 35306865840.0);
  EXPECT_DOUBLE_EQ(document.GetNumber("missing"), 0);
}

TEST(JsonDocumentWriteTest, SetExpressionStoresTheValueOfJsonText) {
  JsonDocument document = Parsed(R"({"o":{"a":1}})");
  ASSERT_TRUE(document.SetExpression("o", R"({"b":2})"));  // replaces, no merge
  EXPECT_EQ(document.GetJson("o"), R"({"b":2})");
  EXPECT_FALSE(document.SetExpression("o", "not json"));
  EXPECT_EQ(document.GetJson("o"), R"({"b":2})");
}

// ---- Other reads ----------------------------------------------------------------------------

TEST(JsonDocumentReadTest, TypeOfGivesTheTypeCodes) {
  const JsonDocument document =
      Parsed(R"({"n":null,"b":false,"i":1,"f":1.5,"o":{},"a":[],"s":""})");
  EXPECT_EQ(document.TypeOf("n"), kJsonMissing);
  EXPECT_EQ(document.TypeOf("missing"), kJsonMissing);
  EXPECT_EQ(document.TypeOf("b"), kJsonBoolean);
  EXPECT_EQ(document.TypeOf("i"), kJsonNumber);
  EXPECT_EQ(document.TypeOf("f"), kJsonNumber);
  EXPECT_EQ(document.TypeOf("o"), kJsonObject);
  EXPECT_EQ(document.TypeOf("a"), kJsonArray);
  EXPECT_EQ(document.TypeOf("s"), kJsonString);
  EXPECT_TRUE(document.Exists("s"));
  EXPECT_FALSE(document.Exists("n"));
}

TEST(JsonDocumentReadTest, GetAllValuesCollectsLeavesAndSplitsAtTheSeparator) {
  const JsonDocument document = Parsed(
      R"({"s":"a","n":null,"i":2,"b":true,"o":{"deep":"d","list":[1,[2]]},"x":"1[2020年7月20日20时0分0秒]2","e":""})");
  std::vector<std::string> values{"stale"};
  EXPECT_EQ(document.GetAllValues(values), 6);
  EXPECT_EQ(values, (std::vector<std::string>{"a", "2", "true", "1", "2", ""}));
  EXPECT_EQ(document.GetAllValues(values, "", true), 9);
  EXPECT_EQ(values, (std::vector<std::string>{"a", "2", "true", "d", "1", "2", "1", "2", ""}));
  EXPECT_EQ(document.GetAllValues(values, "o.list"), 1);
  EXPECT_EQ(document.GetAllValues(values, "s"), 0);
  EXPECT_EQ(document.GetAllValues(values, "missing"), 0);
}

TEST(JsonDocumentReadTest, EmptyPathActsOnTheRoot) {
  JsonDocument document = Parsed(R"({"a":1,"b":"x"})");
  EXPECT_EQ(document.GetValue(""), "[object Object]");
  EXPECT_EQ(document.GetJson(""), document.ToText());
  EXPECT_TRUE(document.Exists(""));
  EXPECT_EQ(document.TypeOf(""), kJsonObject);
  std::vector<std::string> names;
  EXPECT_EQ(document.GetNames(names, ""), 2);
  EXPECT_EQ(document.GetCount(""), 0);
  EXPECT_EQ(document.GetObject("").ToText(), R"({"a":1,"b":"x"})");
  EXPECT_FALSE(document.Delete(""));
  ASSERT_TRUE(document.SetValue("", R"({"c":2})", true));
  EXPECT_EQ(document.ToText(), R"({"a":1,"b":"x","c":2})");
  ASSERT_TRUE(document.Append("", "1", true));  // the root becomes an array
  ASSERT_TRUE(document.Append("", "0", true, true));
  EXPECT_EQ(document.ToText(), "[0,1]");
  EXPECT_EQ(document.GetItemValue(1, ""), "1");
  EXPECT_EQ(document.GetItemObject(0, "").ToText(), "0");
  ASSERT_TRUE(document.SetItem(1, "", "x"));
  ASSERT_TRUE(document.RemoveItem(0, ""));
  EXPECT_EQ(document.ToText(), R"(["x"])");
  std::vector<std::string> values;
  EXPECT_EQ(document.GetAllValues(values, ""), 1);
  ASSERT_TRUE(document.SetNumber("", 4.5));
  EXPECT_DOUBLE_EQ(document.GetNumber(""), 4.5);
  ASSERT_TRUE(document.SetExpression("", "[true]"));
  EXPECT_EQ(document.ToText(), "[true]");
  ASSERT_TRUE(document.SetValue("", R"(a\b)"));
  EXPECT_EQ(document.ToText(), R"("a\\b")");
}

}  // namespace
}  // namespace korvid
