#include "record_writer.h"

#include <cstdio>
#include <set>

#include "value_text.h"

namespace host {

namespace {

// Length of the valid UTF-8 sequence at s[i], 0 when the byte starts none.
size_t Utf8SequenceAt(const std::string& s, size_t i) {
  const auto b0 = static_cast<unsigned char>(s[i]);
  if (b0 < 0x80) return 1;
  size_t len;
  uint32_t cp;
  if (b0 >= 0xC2 && b0 <= 0xDF) len = 2, cp = b0 & 0x1F;
  else if (b0 >= 0xE0 && b0 <= 0xEF) len = 3, cp = b0 & 0x0F;
  else if (b0 >= 0xF0 && b0 <= 0xF4) len = 4, cp = b0 & 0x07;
  else return 0;
  if (i + len > s.size()) return 0;
  for (size_t k = 1; k < len; ++k) {
    const auto b = static_cast<unsigned char>(s[i + k]);
    if ((b & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (b & 0x3F);
  }
  // Overlong forms, surrogates and code points past U+10FFFF.
  if ((len == 3 && cp < 0x800) || (len == 4 && (cp < 0x10000 || cp > 0x10FFFF)) || (cp >= 0xD800 && cp <= 0xDFFF))
    return 0;
  return len;
}

// The names of a record with repeats made unique.
std::vector<std::string> UniqueNames(const NamedValues& items) {
  std::vector<std::string> names;
  std::set<std::string> seen;
  for (const auto& [name, value] : items) {
    std::string n = name;
    for (int k = 2; !seen.insert(n).second; ++k) n = name + "#" + std::to_string(k);
    names.push_back(n);
  }
  return names;
}

const char* ViaText(RecordVia via) { return via == RecordVia::Kind9 ? "kind9" : "output"; }

class JsonWriter : public RecordWriter {
 public:
  std::string Format(const Record& record) override {
    std::string out = "{\"source\":" + std::to_string(record.source) + ",\"via\":\"" + ViaText(record.via) +
                      "\",\"items\":{";
    const auto names = UniqueNames(record.items);
    for (size_t i = 0; i < record.items.size(); ++i) {
      if (i) out += ',';
      out += JsonString(names[i]) + ':';
      std::string text;
      switch (TypedText(record.items[i].second, &text)) {
        case ValueKind::Null: out += "null"; break;
        case ValueKind::Number:
        case ValueKind::Boolean: out += text; break;
        case ValueKind::Text: out += JsonString(text); break;
      }
    }
    out += "}}\n";
    return out;
  }
};

class CsvWriter : public RecordWriter {
 public:
  std::string Format(const Record& record) override {
    std::string out;
    auto names = UniqueNames(record.items);
    if (!haveHeader_ || names != header_) {
      out += "source,via";
      for (const auto& n : names) out += "," + CsvField(n);
      out += "\r\n";
      header_ = std::move(names);
      haveHeader_ = true;
    }
    out += std::to_string(record.source) + "," + ViaText(record.via);
    for (const auto& [name, value] : record.items) {
      std::string text;
      out += ",";
      if (TypedText(value, &text) != ValueKind::Null) out += CsvField(text);
    }
    out += "\r\n";
    return out;
  }

 private:
  bool haveHeader_ = false;
  std::vector<std::string> header_;
};

}  // namespace

std::unique_ptr<RecordWriter> MakeRecordWriter(RecordFormat format) {
  if (format == RecordFormat::Csv) return std::make_unique<CsvWriter>();
  return std::make_unique<JsonWriter>();
}

std::string JsonString(const std::string& utf8) {
  std::string out = "\"";
  for (size_t i = 0; i < utf8.size();) {
    const auto c = static_cast<unsigned char>(utf8[i]);
    if (c >= 0x80) {
      size_t len = Utf8SequenceAt(utf8, i);
      if (len == 0) {
        out += "\xEF\xBF\xBD";
        ++i;
      } else {
        out.append(utf8, i, len);
        i += len;
      }
      continue;
    }
    ++i;
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (c < 0x20) {
          char buf[8];
          std::snprintf(buf, sizeof buf, "\\u%04X", c);
          out += buf;
        } else {
          out.push_back(static_cast<char>(c));
        }
    }
  }
  out += "\"";
  return out;
}

std::string CsvField(const std::string& text) {
  bool quote = !text.empty() && (text.front() == ' ' || text.back() == ' ' || text.front() == '\t' ||
                                 text.back() == '\t');
  if (text.find_first_of(",\"\r\n") != std::string::npos) quote = true;
  if (!quote) return text;
  std::string out = "\"";
  for (char c : text) {
    if (c == '"') out += '"';
    out.push_back(c);
  }
  out += "\"";
  return out;
}

std::vector<NamedValues> SplitRows(const NamedValues& items) {
  std::vector<NamedValues> rows(1);
  for (const auto& item : items) {
    if (item.first == "$NEW_ROW$") {
      if (!rows.back().empty()) rows.emplace_back();
      continue;
    }
    rows.back().push_back(item);
  }
  if (rows.back().empty()) rows.pop_back();
  return rows;
}

}  // namespace host
