#include "json.h"

#include <charconv>
#include <cmath>

namespace bacsim {

const Json* Json::Find(std::string_view key) const {
  for (size_t i = 0; i < keys.size(); ++i) {
    if (keys[i] == key) return &values[i];
  }
  return nullptr;
}

namespace {

class Parser {
 public:
  explicit Parser(std::string_view t) : t_(t) {}

  bool Document(Json& out, std::string& error) {
    SkipSpace();
    if (!Parse(out, 0)) {
      error = Where() + error_;
      return false;
    }
    SkipSpace();
    if (p_ != t_.size()) {
      error = Where() + "text after the JSON value";
      return false;
    }
    return true;
  }

 private:
  std::string Where() const {
    size_t line = 1;
    for (size_t i = 0; i < p_ && i < t_.size(); ++i) line += t_[i] == '\n';
    return "line " + std::to_string(line) + ": ";
  }

  bool Fail(const char* what) {
    error_ = what;
    return false;
  }

  void SkipSpace() {
    while (p_ < t_.size() && (t_[p_] == ' ' || t_[p_] == '\t' || t_[p_] == '\n' || t_[p_] == '\r')) ++p_;
  }

  bool Literal(std::string_view word) {
    if (t_.substr(p_, word.size()) != word) return Fail("unknown literal");
    p_ += word.size();
    return true;
  }

  bool Parse(Json& v, int depth) {
    if (depth > kMaxJsonDepth) return Fail("nested too deeply");
    if (p_ >= t_.size()) return Fail("unexpected end of text");
    switch (t_[p_]) {
      case '{': return Object(v, depth);
      case '[': return Array(v, depth);
      case '"': v.type = Json::kString; return String(v.text);
      case 't': v.type = Json::kBool; v.boolean = true; return Literal("true");
      case 'f': v.type = Json::kBool; v.boolean = false; return Literal("false");
      case 'n': v.type = Json::kNull; return Literal("null");
      default: return Number(v);
    }
  }

  bool Object(Json& v, int depth) {
    v.type = Json::kObject;
    ++p_;
    SkipSpace();
    if (p_ < t_.size() && t_[p_] == '}') {
      ++p_;
      return true;
    }
    for (;;) {
      SkipSpace();
      if (p_ >= t_.size() || t_[p_] != '"') return Fail("expected a member name");
      std::string key;
      if (!String(key)) return false;
      SkipSpace();
      if (p_ >= t_.size() || t_[p_] != ':') return Fail("expected ':'");
      ++p_;
      SkipSpace();
      Json member;
      if (!Parse(member, depth + 1)) return false;
      v.keys.push_back(std::move(key));
      v.values.push_back(std::move(member));
      SkipSpace();
      if (p_ < t_.size() && t_[p_] == ',') {
        ++p_;
        continue;
      }
      if (p_ < t_.size() && t_[p_] == '}') {
        ++p_;
        return true;
      }
      return Fail("expected ',' or '}'");
    }
  }

  bool Array(Json& v, int depth) {
    v.type = Json::kArray;
    ++p_;
    SkipSpace();
    if (p_ < t_.size() && t_[p_] == ']') {
      ++p_;
      return true;
    }
    for (;;) {
      SkipSpace();
      Json item;
      if (!Parse(item, depth + 1)) return false;
      v.items.push_back(std::move(item));
      SkipSpace();
      if (p_ < t_.size() && t_[p_] == ',') {
        ++p_;
        continue;
      }
      if (p_ < t_.size() && t_[p_] == ']') {
        ++p_;
        return true;
      }
      return Fail("expected ',' or ']'");
    }
  }

  static void PutUtf8(std::string& s, uint32_t cp) {
    if (cp < 0x80) {
      s += static_cast<char>(cp);
    } else if (cp < 0x800) {
      s += static_cast<char>(0xC0 | (cp >> 6));
      s += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
      s += static_cast<char>(0xE0 | (cp >> 12));
      s += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      s += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
      s += static_cast<char>(0xF0 | (cp >> 18));
      s += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
      s += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      s += static_cast<char>(0x80 | (cp & 0x3F));
    }
  }

  bool Hex4(uint32_t& cp) {
    if (t_.size() - p_ < 4) return Fail("short \\u escape");
    cp = 0;
    for (int i = 0; i < 4; ++i) {
      const char c = t_[p_++];
      cp <<= 4;
      if (c >= '0' && c <= '9') cp |= static_cast<uint32_t>(c - '0');
      else if (c >= 'a' && c <= 'f') cp |= static_cast<uint32_t>(c - 'a' + 10);
      else if (c >= 'A' && c <= 'F') cp |= static_cast<uint32_t>(c - 'A' + 10);
      else return Fail("bad \\u escape");
    }
    return true;
  }

  bool String(std::string& s) {
    ++p_;  // opening quote
    while (p_ < t_.size()) {
      const char c = t_[p_++];
      if (c == '"') return true;
      if (static_cast<unsigned char>(c) < 0x20) return Fail("control character in a string");
      if (c != '\\') {
        s += c;
        continue;
      }
      if (p_ >= t_.size()) break;
      const char e = t_[p_++];
      switch (e) {
        case '"': case '\\': case '/': s += e; break;
        case 'b': s += '\b'; break;
        case 'f': s += '\f'; break;
        case 'n': s += '\n'; break;
        case 'r': s += '\r'; break;
        case 't': s += '\t'; break;
        case 'u': {
          uint32_t cp = 0;
          if (!Hex4(cp)) return false;
          if (cp >= 0xD800 && cp < 0xDC00) {
            uint32_t lo = 0;
            if (t_.substr(p_, 2) != "\\u") return Fail("lone surrogate");
            p_ += 2;
            if (!Hex4(lo)) return false;
            if (lo < 0xDC00 || lo >= 0xE000) return Fail("lone surrogate");
            cp = 0x10000 + ((cp - 0xD800) << 10) + (lo - 0xDC00);
          } else if (cp >= 0xDC00 && cp < 0xE000) {
            return Fail("lone surrogate");
          }
          PutUtf8(s, cp);
          break;
        }
        default: return Fail("bad escape");
      }
    }
    return Fail("unterminated string");
  }

  bool Number(Json& v) {
    const size_t start = p_;
    if (p_ < t_.size() && t_[p_] == '-') ++p_;
    if (p_ >= t_.size() || t_[p_] < '0' || t_[p_] > '9') return Fail("unexpected character");
    while (p_ < t_.size() && ((t_[p_] >= '0' && t_[p_] <= '9') || t_[p_] == '.' || t_[p_] == 'e' || t_[p_] == 'E' ||
                              t_[p_] == '+' || t_[p_] == '-')) {
      ++p_;
    }
    double d = 0;
    auto [end, ec] = std::from_chars(t_.data() + start, t_.data() + p_, d);
    if (ec != std::errc() || end != t_.data() + p_ || !std::isfinite(d)) return Fail("bad number");
    v.type = Json::kNumber;
    v.number = d;
    return true;
  }

  std::string_view t_;
  size_t p_ = 0;
  std::string error_;
};

}  // namespace

bool ParseJson(std::string_view text, Json& out, std::string& error) {
  if (text.size() > kMaxJsonSize) {
    error = "file larger than " + std::to_string(kMaxJsonSize) + " octets";
    return false;
  }
  Json v;
  Parser p(text);
  if (!p.Document(v, error)) return false;
  out = std::move(v);
  return true;
}

}  // namespace bacsim
