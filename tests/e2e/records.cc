#include "records.h"

#include <cstdlib>

#include "common/text_lines.h"

namespace e2e {

using testutil::Lines;

namespace {

class Reader {
 public:
  explicit Reader(const std::string& s) : s_(s) {}
  bool Object(Record& r) {
    if (!Expect('{')) return false;
    while (true) {
      std::string key;
      if (!String(key) || !Expect(':')) return false;
      if (key == "items") {
        if (!Items(r)) return false;
      } else {
        JsonValue v;
        if (!Value(v)) return false;
        if (key == "source") r.source = static_cast<int>(v.number);
        if (key == "via") r.via = v.text;
      }
      if (Peek() == ',') {
        ++at_;
        continue;
      }
      return Expect('}');
    }
  }

 private:
  bool Items(Record& r) {
    if (!Expect('{')) return false;
    if (Peek() == '}') return Expect('}');
    while (true) {
      std::string key;
      JsonValue v;
      if (!String(key) || !Expect(':') || !Value(v)) return false;
      r.items.emplace_back(key, v);
      if (Peek() == ',') {
        ++at_;
        continue;
      }
      return Expect('}');
    }
  }
  bool Value(JsonValue& v) {
    const char c = Peek();
    if (c == '"') {
      v.kind = JsonValue::Text;
      return String(v.text);
    }
    if (s_.compare(at_, 4, "null") == 0) return at_ += 4, true;
    if (s_.compare(at_, 4, "true") == 0) return v.kind = JsonValue::Bool, v.flag = true, at_ += 4, true;
    if (s_.compare(at_, 5, "false") == 0) return v.kind = JsonValue::Bool, at_ += 5, true;
    char* end = nullptr;
    v.number = std::strtod(s_.c_str() + at_, &end);
    if (end == s_.c_str() + at_) return false;
    v.kind = JsonValue::Number;
    at_ = static_cast<size_t>(end - s_.c_str());
    return true;
  }
  bool String(std::string& out) {
    if (!Expect('"')) return false;
    while (at_ < s_.size() && s_[at_] != '"') {
      char c = s_[at_++];
      if (c == '\\' && at_ < s_.size()) {
        const char e = s_[at_++];
        if (e == 'n') c = '\n';
        else if (e == 't') c = '\t';
        else if (e == 'u') {
          c = static_cast<char>(std::strtol(s_.substr(at_, 4).c_str(), nullptr, 16));
          at_ += 4;
        } else {
          c = e;
        }
      }
      out.push_back(c);
    }
    return Expect('"');
  }
  char Peek() const { return at_ < s_.size() ? s_[at_] : '\0'; }
  bool Expect(char c) {
    if (Peek() != c) return false;
    ++at_;
    return true;
  }
  const std::string& s_;
  size_t at_ = 0;
};

}  // namespace

const JsonValue* Record::Find(const std::string& name) const {
  for (const auto& [n, v] : items)
    if (n == name) return &v;
  return nullptr;
}
std::string Record::Text(const std::string& name) const {
  const JsonValue* v = Find(name);
  return v ? v->text : std::string();
}
double Record::Number(const std::string& name) const {
  const JsonValue* v = Find(name);
  return v ? v->number : 0;
}
std::vector<std::string> Record::Names() const {
  std::vector<std::string> n;
  for (const auto& item : items) n.push_back(item.first);
  return n;
}

std::vector<Record> ParseRecords(const std::string& text, bool* ok) {
  if (ok) *ok = true;
  std::vector<Record> records;
  for (const std::string& line : Lines(text)) {
    if (line.empty()) continue;
    Record r;
    if (Reader(line).Object(r)) records.push_back(std::move(r));
    else if (ok) *ok = false;
  }
  return records;
}

}  // namespace e2e
