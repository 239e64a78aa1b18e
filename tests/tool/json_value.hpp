#pragma once

// A small JSON reader for the tests of -report: objects, arrays, strings (with the escapes
// the tool writes), numbers, true, false and null. Enough to check a report field by field
// without trusting the writer's own layout.

#include <cstdlib>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace isocull_test {

struct JsonValue {
  enum class Kind { kNull, kBool, kNumber, kString, kArray, kObject } kind = Kind::kNull;
  bool boolean = false;
  double number = 0.0;
  std::string text;
  std::vector<JsonValue> items;
  std::map<std::string, JsonValue> fields;

  const JsonValue& operator[](const std::string& name) const {
    static const JsonValue kMissing;
    const auto found = fields.find(name);
    return found == fields.end() ? kMissing : found->second;
  }
  bool has(const std::string& name) const { return fields.count(name) != 0; }
};

class JsonParser {
 public:
  explicit JsonParser(const std::string& text) : text_(text) {}
  // False when the text is not one whole JSON value.
  bool parse(JsonValue& value) {
    if (!parse_value(value)) return false;
    skip_blanks();
    return at_ == text_.size();
  }

 private:
  void skip_blanks() {
    while (at_ < text_.size() && std::string(" \t\r\n").find(text_[at_]) != std::string::npos)
      at_++;
  }
  bool take(char c) {
    skip_blanks();
    if (at_ < text_.size() && text_[at_] == c) {
      at_++;
      return true;
    }
    return false;
  }
  bool word(const char* w, JsonValue& value, JsonValue::Kind kind, bool boolean) {
    const std::string expected = w;
    if (text_.compare(at_, expected.size(), expected) != 0) return false;
    at_ += expected.size();
    value.kind = kind;
    value.boolean = boolean;
    return true;
  }
  bool parse_string(std::string& out) {
    if (!take('"')) return false;
    while (at_ < text_.size() && text_[at_] != '"') {
      char c = text_[at_++];
      if (static_cast<unsigned char>(c) < 0x20) return false;
      if (c == '\\') {
        if (at_ >= text_.size()) return false;
        const char e = text_[at_++];
        if (e == 'n') {
          c = '\n';
        } else if (e == 't') {
          c = '\t';
        } else if (e == 'u') {
          if (at_ + 4 > text_.size()) return false;
          c = static_cast<char>(std::strtol(text_.substr(at_, 4).c_str(), nullptr, 16));
          at_ += 4;
        } else if (e == '"' || e == '\\' || e == '/') {
          c = e;
        } else {
          return false;
        }
      }
      out.push_back(c);
    }
    return take('"');
  }
  bool parse_value(JsonValue& value) {
    skip_blanks();
    if (at_ >= text_.size()) return false;
    const char c = text_[at_];
    if (c == '{') {
      at_++;
      value.kind = JsonValue::Kind::kObject;
      if (take('}')) return true;
      do {
        std::string name;
        if (!parse_string(name) || !take(':')) return false;
        if (!parse_value(value.fields[name])) return false;
      } while (take(','));
      return take('}');
    }
    if (c == '[') {
      at_++;
      value.kind = JsonValue::Kind::kArray;
      if (take(']')) return true;
      do {
        value.items.emplace_back();
        if (!parse_value(value.items.back())) return false;
      } while (take(','));
      return take(']');
    }
    if (c == '"') {
      value.kind = JsonValue::Kind::kString;
      return parse_string(value.text);
    }
    if (c == 't') return word("true", value, JsonValue::Kind::kBool, true);
    if (c == 'f') return word("false", value, JsonValue::Kind::kBool, false);
    if (c == 'n') return word("null", value, JsonValue::Kind::kNull, false);
    char* end = nullptr;
    value.number = std::strtod(text_.c_str() + at_, &end);
    if (end == text_.c_str() + at_) return false;
    at_ = static_cast<std::size_t>(end - text_.c_str());
    value.kind = JsonValue::Kind::kNumber;
    return true;
  }

  const std::string& text_;
  std::size_t at_ = 0;
};

}  // namespace isocull_test
