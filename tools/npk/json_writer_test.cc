#include "json_writer.h"

#include <gtest/gtest.h>

namespace {

TEST(NpkJsonWriter, NestsAndSeparatesMembers) {
  JsonWriter json;
  json.beginObject();
  json.key("a").value(1).key("b").beginArray().value(true).null().value(uint64_t(7)).endArray();
  json.key("c").beginObject().endObject().key("d").strings({"x", "y"});
  json.key("e").value(int64_t(-3));
  json.endObject();
  EXPECT_EQ("{\"a\":1,\"b\":[true,null,7],\"c\":{},\"d\":[\"x\",\"y\"],\"e\":-3}\n", json.text());
  JsonWriter open;
  open.beginArray();
  EXPECT_EQ("[", open.text());  // no line end before the document is complete
}

TEST(NpkJsonWriter, EscapesControlCharactersAndBytesThatAreNotUtf8) {
  EXPECT_EQ("\"a\\\"b\\\\c\\nd\\te\\u0001\\u007f\"", jsonString("a\"b\\c\nd\te\x01\x7f"));
  EXPECT_EQ("\"caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x93\xa6\"", jsonString("caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x93\xa6"));
  // A lone continuation byte, a cut sequence, an overlong form, a surrogate.
  EXPECT_EQ("\"\\u0080x\"", jsonString("\x80x"));
  EXPECT_EQ("\"\\u00e2\\u0082\"", jsonString("\xe2\x82"));
  EXPECT_EQ("\"\\u00c0\\u00af\"", jsonString("\xc0\xaf"));
  EXPECT_EQ("\"\\u00ed\\u00a0\\u0080\"", jsonString("\xed\xa0\x80"));
  EXPECT_EQ("\"nul\\u0000\"", jsonString(std::string("nul\0", 4)));
}

}  // namespace
