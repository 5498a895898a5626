// Writes one JSON document (RFC 8259) into a string, compact, members in
// the order they are added, for npk's --json output. Strings from package
// files are bytes: valid UTF-8 is kept, control characters are escaped,
// and every byte that is not part of valid UTF-8 is written as \u00XX
// (its Latin-1 reading), so that the output always parses.
//
//   JsonWriter json;
//   json.beginObject();
//   json.key("name").value("routing");
//   json.key("files").beginArray().value(1).endArray();
//   json.endObject();
//   json.text()  ->  {"name":"routing","files":[1]}
//
// REQUIRES: calls nest properly, and inside an object every value follows
// a key. The writer does not check this.
#ifndef NPK_JSON_WRITER_H_
#define NPK_JSON_WRITER_H_

#include <stdint.h>

#include <string>
#include <vector>

class JsonWriter {
 public:
  JsonWriter& beginObject();
  JsonWriter& endObject();
  JsonWriter& beginArray();
  JsonWriter& endArray();
  JsonWriter& key(const std::string& name);
  JsonWriter& value(const std::string& text);
  JsonWriter& value(const char* text) { return value(std::string(text)); }
  JsonWriter& value(uint64_t number);
  JsonWriter& value(int64_t number);
  JsonWriter& value(uint32_t number) { return value(uint64_t(number)); }
  JsonWriter& value(int number) { return value(int64_t(number)); }
  JsonWriter& value(bool flag);
  JsonWriter& null();
  // A list of strings as an array.
  JsonWriter& strings(const std::vector<std::string>& texts);

  // The document so far, with a line end once it is complete.
  std::string text() const { return depth_.empty() ? text_ + "\n" : text_; }

 private:
  void separate();

  std::string text_;
  // One entry per open object or array: whether it has a member yet.
  std::vector<bool> depth_;
  bool afterKey_ = false;
};

// `bytes` as a JSON string literal, quotes included.
std::string jsonString(const std::string& bytes);

#endif  // NPK_JSON_WRITER_H_
