#include "json_writer.h"

#include <stdio.h>

namespace {

// Length of the valid UTF-8 sequence at `i`, or 0 when the byte there
// does not begin one (overlong forms, surrogates and values past U+10FFFF
// are not valid).
size_t utf8Length(const std::string& bytes, size_t i) {
  unsigned char lead = static_cast<unsigned char>(bytes[i]);
  size_t length;
  uint32_t value;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2, value = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3, value = lead & 0x0F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4, value = lead & 0x07;
  } else {
    return 0;
  }
  if (i + length > bytes.size()) return 0;
  for (size_t k = 1; k < length; ++k) {
    unsigned char next = static_cast<unsigned char>(bytes[i + k]);
    if ((next & 0xC0) != 0x80) return 0;
    value = (value << 6) | (next & 0x3F);
  }
  bool overlong = (length == 3 && value < 0x800) || (length == 4 && value < 0x10000);
  bool surrogate = value >= 0xD800 && value <= 0xDFFF;
  return overlong || surrogate || value > 0x10FFFF ? 0 : length;
}

void escapeByte(unsigned char byte, std::string* out) {
  char text[8];
  snprintf(text, sizeof text, "\\u%04x", byte);
  *out += text;
}

}  // namespace

std::string jsonString(const std::string& bytes) {
  std::string out = "\"";
  for (size_t i = 0; i < bytes.size();) {
    unsigned char byte = static_cast<unsigned char>(bytes[i]);
    if (byte == '"' || byte == '\\') {
      out += '\\';
      out += char(byte);
    } else if (byte == '\n') {
      out += "\\n";
    } else if (byte == '\t') {
      out += "\\t";
    } else if (byte < 0x20 || byte == 0x7F) {
      escapeByte(byte, &out);
    } else if (byte >= 0x80) {
      size_t length = utf8Length(bytes, i);
      if (length == 0) {
        escapeByte(byte, &out);
      } else {
        out.append(bytes, i, length);
        i += length;
        continue;
      }
    } else {
      out += char(byte);
    }
    ++i;
  }
  return out + "\"";
}

void JsonWriter::separate() {
  if (afterKey_) {
    afterKey_ = false;
    return;
  }
  if (depth_.empty()) return;
  if (depth_.back()) text_ += ',';
  depth_.back() = true;
}

JsonWriter& JsonWriter::beginObject() {
  separate();
  text_ += '{';
  depth_.push_back(false);
  return *this;
}

JsonWriter& JsonWriter::endObject() {
  text_ += '}';
  depth_.pop_back();
  return *this;
}

JsonWriter& JsonWriter::beginArray() {
  separate();
  text_ += '[';
  depth_.push_back(false);
  return *this;
}

JsonWriter& JsonWriter::endArray() {
  text_ += ']';
  depth_.pop_back();
  return *this;
}

JsonWriter& JsonWriter::key(const std::string& name) {
  separate();
  text_ += jsonString(name) + ":";
  afterKey_ = true;
  return *this;
}

JsonWriter& JsonWriter::value(const std::string& text) {
  separate();
  text_ += jsonString(text);
  return *this;
}

JsonWriter& JsonWriter::value(uint64_t number) {
  separate();
  text_ += std::to_string(number);
  return *this;
}

JsonWriter& JsonWriter::value(int64_t number) {
  separate();
  text_ += std::to_string(number);
  return *this;
}

JsonWriter& JsonWriter::value(bool flag) {
  separate();
  text_ += flag ? "true" : "false";
  return *this;
}

JsonWriter& JsonWriter::null() {
  separate();
  text_ += "null";
  return *this;
}

JsonWriter& JsonWriter::strings(const std::vector<std::string>& texts) {
  beginArray();
  for (const std::string& text : texts) value(text);
  return endArray();
}
