// formc: the build step that turns the module's readable resource sources
// into the raw data the library carries.
//
//   formc form IN.dfm OUT.bin
//       A form in its text notation becomes a binary component stream
//       ("TPF0" signature, then the form component with its properties and
//       children).
//   formc package OUT SCRIPT.xml FORMNAME MAP.txt
//       The options-form package text: the script, the form's resource
//       name and the persistence map, in three sections.  Line ends become
//       CR LF; the caller compresses the result.
//   formc embed OUT.cc NAMESPACE NAME=FILE...
//       A C++ source that holds the files as a table of raw-data resources
//       (kModuleResources, kModuleResourceCount) in NAMESPACE.
//
// The tool runs on the build machine only; it exits non-zero with a message
// on the first error, naming the line of the source it could not read.
#include <cctype>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "../../src/platform/utf8.h"

namespace {

struct Failure : std::runtime_error {
  using std::runtime_error::runtime_error;
};

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw Failure("cannot read " + path);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

void WriteAll(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!out) throw Failure("cannot write " + path);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw Failure("cannot write " + path);
}

// ---- The text notation of a form --------------------------------------------

// Value types of the component stream.
enum ValueType : uint8_t {
  vaNull = 0,
  vaList = 1,
  vaInt8 = 2,
  vaInt16 = 3,
  vaInt32 = 4,
  vaExtended = 5,
  vaString = 6,
  vaIdent = 7,
  vaFalse = 8,
  vaTrue = 9,
  vaSet = 11,
  vaLString = 12,
  vaWString = 18,
  vaInt64 = 19,
};

class FormCompiler {
 public:
  explicit FormCompiler(std::string text) : s_(std::move(text)) {}

  std::string Compile() {
    out_ = "TPF0";
    SkipBlank();
    Component();
    SkipBlank();
    if (pos_ < s_.size()) Fail("text after the last 'end'");
    return out_;
  }

 private:
  [[noreturn]] void Fail(const std::string& what) const {
    size_t line = 1;
    for (size_t i = 0; i < pos_ && i < s_.size(); ++i)
      if (s_[i] == '\n') ++line;
    throw Failure("line " + std::to_string(line) + ": " + what);
  }

  void SkipBlank() {
    while (pos_ < s_.size()) {
      char c = s_[pos_];
      if (c == ' ' || c == '\t' || c == '\r' || c == '\n') {
        ++pos_;
      } else if (c == '/' && pos_ + 1 < s_.size() && s_[pos_ + 1] == '/') {
        while (pos_ < s_.size() && s_[pos_] != '\n') ++pos_;
      } else {
        break;
      }
    }
  }

  static bool IdentStart(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_'; }
  static bool IdentChar(char c) { return IdentStart(c) || (c >= '0' && c <= '9'); }

  std::string Ident(bool dotted) {
    SkipBlank();
    if (pos_ >= s_.size() || !IdentStart(s_[pos_])) Fail("a name was expected");
    size_t start = pos_;
    while (pos_ < s_.size() && (IdentChar(s_[pos_]) || (dotted && s_[pos_] == '.'))) ++pos_;
    return s_.substr(start, pos_ - start);
  }

  void Expect(char c) {
    SkipBlank();
    if (pos_ >= s_.size() || s_[pos_] != c) Fail(std::string("'") + c + "' was expected");
    ++pos_;
  }

  bool PeekWord(const char* word) {
    SkipBlank();
    size_t n = std::strlen(word);
    if (s_.compare(pos_, n, word) != 0) return false;
    return pos_ + n >= s_.size() || !IdentChar(s_[pos_ + n]);
  }

  void ShortString(const std::string& text) {
    if (text.size() > 255) Fail("a name longer than 255 characters");
    out_.push_back(static_cast<char>(text.size()));
    out_ += text;
  }

  void Int32(int32_t v) {
    for (int i = 0; i < 4; ++i) out_.push_back(static_cast<char>((static_cast<uint32_t>(v) >> (8 * i)) & 0xFF));
  }

  void Component() {
    if (!PeekWord("object")) Fail("'object' was expected");
    pos_ += 6;
    std::string name = Ident(false);
    Expect(':');
    std::string cls = Ident(false);
    ShortString(cls);
    ShortString(name);
    for (;;) {
      if (PeekWord("end") || PeekWord("object")) break;
      std::string prop = Ident(true);
      Expect('=');
      ShortString(prop);
      Value();
    }
    out_.push_back(vaNull);  // end of the properties
    while (PeekWord("object")) Component();
    if (!PeekWord("end")) Fail("'end' was expected");
    pos_ += 3;
    out_.push_back(vaNull);  // end of the children
  }

  void Integer(int64_t v) {
    if (v >= -128 && v <= 127) {
      out_.push_back(vaInt8);
      out_.push_back(static_cast<char>(static_cast<int8_t>(v)));
    } else if (v >= -32768 && v <= 32767) {
      out_.push_back(vaInt16);
      const auto u = static_cast<uint16_t>(static_cast<int16_t>(v));
      out_.push_back(static_cast<char>(u & 0xFF));
      out_.push_back(static_cast<char>(u >> 8));
    } else if (v >= INT32_MIN && v <= INT32_MAX) {
      out_.push_back(vaInt32);
      Int32(static_cast<int32_t>(v));
    } else {
      out_.push_back(vaInt64);
      for (int i = 0; i < 8; ++i) out_.push_back(static_cast<char>((static_cast<uint64_t>(v) >> (8 * i)) & 0xFF));
    }
  }

  // A number as the 10-byte extended type of the stream (sign and 15-bit
  // exponent, 64-bit mantissa with its integer bit).
  void Extended(double v) {
    uint64_t mantissa = 0;
    uint16_t top = 0;
    if (v != 0.0) {
      if (!std::isfinite(v)) Fail("a number that is not finite");
      int e = 0;
      double m = std::frexp(std::fabs(v), &e);  // |v| = m * 2^e, 0.5 <= m < 1
      mantissa = static_cast<uint64_t>(std::ldexp(m, 64));
      top = static_cast<uint16_t>(e - 1 + 16383);
    }
    if (std::signbit(v)) top |= 0x8000;
    out_.push_back(vaExtended);
    for (int i = 0; i < 8; ++i) out_.push_back(static_cast<char>((mantissa >> (8 * i)) & 0xFF));
    out_.push_back(static_cast<char>(top & 0xFF));
    out_.push_back(static_cast<char>(top >> 8));
  }

  void Number() {
    size_t start = pos_;
    if (s_[pos_] == '-' || s_[pos_] == '+') ++pos_;
    if (pos_ < s_.size() && s_[pos_] == '$') {
      ++pos_;
      size_t digits = pos_;
      while (pos_ < s_.size() && std::isxdigit(static_cast<unsigned char>(s_[pos_]))) ++pos_;
      if (digits == pos_) Fail("hexadecimal digits were expected");
      int64_t v = static_cast<int64_t>(std::stoull(s_.substr(digits, pos_ - digits), nullptr, 16));
      Integer(s_[start] == '-' ? -v : v);
      return;
    }
    bool real = false;
    while (pos_ < s_.size()) {
      char c = s_[pos_];
      if (c >= '0' && c <= '9') {
        ++pos_;
      } else if (c == '.' || c == 'e' || c == 'E') {
        real = true;
        ++pos_;
        if ((c == 'e' || c == 'E') && pos_ < s_.size() && (s_[pos_] == '-' || s_[pos_] == '+')) ++pos_;
      } else {
        break;
      }
    }
    std::string text = s_.substr(start, pos_ - start);
    try {
      if (real) Extended(std::stod(text));
      else Integer(std::stoll(text));
    } catch (const std::logic_error&) {
      Fail("not a number: " + text);
    }
  }

  // Appends one code point as UTF-8.
  static void PutUtf8(std::string& out, uint32_t cp) { port::AppendUtf8(out, cp); }


  // 'quoted' and #code pieces, joined by + across lines; the text in UTF-8.
  std::string StringText() {
    std::string text;
    for (;;) {
      SkipBlank();
      bool any = false;
      while (pos_ < s_.size() && (s_[pos_] == '\'' || s_[pos_] == '#')) {
        any = true;
        if (s_[pos_] == '#') {
          ++pos_;
          size_t digits = pos_;
          while (pos_ < s_.size() && s_[pos_] >= '0' && s_[pos_] <= '9') ++pos_;
          if (digits == pos_) Fail("a character code was expected after '#'");
          unsigned long cp = std::stoul(s_.substr(digits, pos_ - digits));
          if (cp > 0x10FFFF) Fail("character code out of range");
          PutUtf8(text, static_cast<uint32_t>(cp));
          continue;
        }
        ++pos_;
        for (;;) {
          if (pos_ >= s_.size() || s_[pos_] == '\n') Fail("unterminated text");
          if (s_[pos_] == '\'') {
            if (pos_ + 1 < s_.size() && s_[pos_ + 1] == '\'') {
              text.push_back('\'');
              pos_ += 2;
              continue;
            }
            ++pos_;
            break;
          }
          text.push_back(s_[pos_++]);
        }
      }
      if (!any) Fail("a text was expected");
      SkipBlank();
      if (pos_ < s_.size() && s_[pos_] == '+') {
        ++pos_;
        continue;
      }
      return text;
    }
  }

  // UTF-8 to UTF-16 code units; false when the text is not valid UTF-8.
  static bool ToUtf16(const std::string& s, std::u16string* out) {
    for (size_t i = 0; i < s.size();) {
      auto c = static_cast<unsigned char>(s[i]);
      uint32_t cp;
      size_t n;
      if (c < 0x80) { cp = c; n = 1; }
      else if ((c & 0xE0) == 0xC0) { cp = c & 0x1F; n = 2; }
      else if ((c & 0xF0) == 0xE0) { cp = c & 0x0F; n = 3; }
      else if ((c & 0xF8) == 0xF0) { cp = c & 0x07; n = 4; }
      else return false;
      if (i + n > s.size()) return false;
      for (size_t k = 1; k < n; ++k) {
        auto d = static_cast<unsigned char>(s[i + k]);
        if ((d & 0xC0) != 0x80) return false;
        cp = (cp << 6) | (d & 0x3F);
      }
      i += n;
      if (cp >= 0x10000) {
        cp -= 0x10000;
        out->push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
        out->push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
      } else {
        out->push_back(static_cast<char16_t>(cp));
      }
    }
    return true;
  }

  void String() {
    std::string text = StringText();
    bool ascii = true;
    for (char c : text) ascii = ascii && static_cast<unsigned char>(c) < 0x80;
    if (ascii && text.size() <= 255) {
      out_.push_back(vaString);
      out_.push_back(static_cast<char>(text.size()));
      out_ += text;
    } else if (ascii) {
      out_.push_back(vaLString);
      Int32(static_cast<int32_t>(text.size()));
      out_ += text;
    } else {
      std::u16string wide;
      if (!ToUtf16(text, &wide)) Fail("a text that is not UTF-8");
      out_.push_back(vaWString);
      Int32(static_cast<int32_t>(wide.size()));
      for (char16_t u : wide) {
        out_.push_back(static_cast<char>(u & 0xFF));
        out_.push_back(static_cast<char>(u >> 8));
      }
    }
  }

  void Value() {
    SkipBlank();
    if (pos_ >= s_.size()) Fail("a value was expected");
    const char c = s_[pos_];
    if ((c >= '0' && c <= '9') || c == '-' || c == '+' || c == '$') {
      Number();
    } else if (c == '\'' || c == '#') {
      String();
    } else if (c == '[') {
      ++pos_;
      out_.push_back(vaSet);
      SkipBlank();
      if (pos_ < s_.size() && s_[pos_] == ']') {
        ++pos_;
      } else {
        for (;;) {
          ShortString(Ident(false));
          SkipBlank();
          if (pos_ < s_.size() && s_[pos_] == ',') {
            ++pos_;
            continue;
          }
          Expect(']');
          break;
        }
      }
      out_.push_back(0);
    } else if (c == '(') {
      ++pos_;
      out_.push_back(vaList);
      for (;;) {
        SkipBlank();
        if (pos_ < s_.size() && s_[pos_] == ')') {
          ++pos_;
          break;
        }
        Value();
      }
      out_.push_back(vaNull);
    } else if (IdentStart(c)) {
      std::string id = Ident(false);
      if (id == "True") out_.push_back(vaTrue);
      else if (id == "False") out_.push_back(vaFalse);
      else {
        out_.push_back(vaIdent);
        ShortString(id);
      }
    } else {
      Fail(std::string("a value cannot start with '") + c + "'");
    }
  }

  std::string s_;
  size_t pos_ = 0;
  std::string out_;
};

// ---- The package text ---------------------------------------------------------

std::string WithCrLf(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r') continue;
    if (text[i] == '\n') out += "\r\n";
    else out.push_back(text[i]);
  }
  return out;
}

std::string StripTrailingLineEnds(std::string text) {
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  return text;
}

std::string Package(const std::string& script, const std::string& formName, const std::string& map) {
  static const char kSeparator[] = "\r\n\r\n<=======>\r\n\r\n";
  std::string out = StripTrailingLineEnds(WithCrLf(script));
  out += kSeparator;
  out += formName + "\r\n\r\n";
  out += kSeparator;
  // Every map line ends with CR LF, the last one too.
  std::string lines = StripTrailingLineEnds(WithCrLf(map));
  if (!lines.empty()) out += lines + "\r\n";
  return out;
}

// ---- Embedding --------------------------------------------------------------

std::string Embed(const std::string& ns, const std::vector<std::pair<std::string, std::string>>& files) {
  std::string out =
      "// Made by the build (tools/formc) from the module's resource sources; not to be edited.\n"
      "#include <cstddef>\n\n#include \"platform/port.h\"\n\nnamespace " +
      ns + " {\n\nnamespace {\n";
  for (size_t i = 0; i < files.size(); ++i) {
    const std::string bytes = ReadAll(files[i].second);
    out += "\nconst unsigned char kData" + std::to_string(i) + "[] = {";
    for (size_t k = 0; k < bytes.size(); ++k) {
      if (k % 16 == 0) out += "\n   ";
      char hex[8];
      std::snprintf(hex, sizeof hex, " 0x%02X,", static_cast<unsigned char>(bytes[k]));
      out += hex;
    }
    if (bytes.empty()) out += "0";
    out += "\n};\nconstexpr size_t kSize" + std::to_string(i) + " = " + std::to_string(bytes.size()) + ";\n";
  }
  out += "\n}  // namespace\n\nextern const port::EmbeddedResource kModuleResources[];\n"
         "extern const size_t kModuleResourceCount;\n\nconst port::EmbeddedResource kModuleResources[] = {\n";
  for (size_t i = 0; i < files.size(); ++i)
    out += "    {\"" + files[i].first + "\", kData" + std::to_string(i) + ", kSize" + std::to_string(i) + "},\n";
  out += "};\nconst size_t kModuleResourceCount = " + std::to_string(files.size()) + ";\n\n}  // namespace " + ns +
         "\n";
  return out;
}

int Usage() {
  std::cerr << "usage: formc form IN.dfm OUT.bin\n"
               "       formc package OUT SCRIPT.xml FORMNAME MAP.txt\n"
               "       formc embed OUT.cc NAMESPACE NAME=FILE...\n";
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    if (argc < 2) return Usage();
    const std::string mode = argv[1];
    if (mode == "form" && argc == 4) {
      WriteAll(argv[3], FormCompiler(ReadAll(argv[2])).Compile());
    } else if (mode == "package" && argc == 6) {
      WriteAll(argv[2], Package(ReadAll(argv[3]), argv[4], ReadAll(argv[5])));
    } else if (mode == "embed" && argc >= 4) {
      std::vector<std::pair<std::string, std::string>> files;
      for (int i = 4; i < argc; ++i) {
        std::string arg = argv[i];
        size_t eq = arg.find('=');
        if (eq == std::string::npos || eq == 0) return Usage();
        files.emplace_back(arg.substr(0, eq), arg.substr(eq + 1));
      }
      WriteAll(argv[2], Embed(argv[3], files));
    } else {
      return Usage();
    }
    return 0;
  } catch (const std::exception& e) {
    std::cerr << "formc: " << (argc > 2 ? argv[2] : "") << ": " << e.what() << "\n";
    return 1;
  }
}
