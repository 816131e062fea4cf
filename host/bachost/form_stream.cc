#include "form_stream.h"

#include "platform/utf8.h"

#include <cmath>
#include <cstdio>
#include <cstring>

namespace host {

namespace {

constexpr int kMaxDepth = 32;
constexpr size_t kMaxValues = 200000;

enum : uint8_t {
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
  vaBinary = 10,
  vaSet = 11,
  vaLString = 12,
  vaNil = 13,
  vaCollection = 14,
  vaSingle = 15,
  vaCurrency = 16,
  vaDate = 17,
  vaWString = 18,
  vaInt64 = 19,
  vaUTF8String = 20,
  vaDouble = 21,
};

void PutUtf8(std::string& out, uint32_t cp) { port::AppendUtf8(out, cp); }

class Reader {
 public:
  explicit Reader(std::string_view s) : s_(s) {}

  bool Form(FormObject* form, std::string* error) {
    if (s_.substr(0, 4) != "TPF0") return Fail(error, "no TPF0 signature");
    pos_ = 4;
    if (!Component(form, 0)) return Fail(error, error_);
    if (pos_ != s_.size()) return Fail(error, "bytes after the form at offset " + std::to_string(pos_));
    return true;
  }

 private:
  bool Fail(std::string* error, const std::string& what) {
    if (error) *error = what;
    return false;
  }
  bool Bad(const std::string& what) {
    if (error_.empty()) error_ = what + " at offset " + std::to_string(pos_);
    return false;
  }

  bool Byte(uint8_t* b) {
    if (pos_ >= s_.size()) return Bad("unexpected end");
    *b = static_cast<uint8_t>(s_[pos_++]);
    return true;
  }
  bool Peek(uint8_t* b) {
    if (pos_ >= s_.size()) return Bad("unexpected end");
    *b = static_cast<uint8_t>(s_[pos_]);
    return true;
  }
  bool Bytes(size_t n, std::string_view* out) {
    if (n > s_.size() - pos_) return Bad("a length beyond the end");
    *out = s_.substr(pos_, n);
    pos_ += n;
    return true;
  }
  bool UInt(int bytes, uint64_t* v) {
    std::string_view b;
    if (!Bytes(static_cast<size_t>(bytes), &b)) return false;
    *v = 0;
    for (int i = bytes - 1; i >= 0; --i) *v = (*v << 8) | static_cast<uint8_t>(b[static_cast<size_t>(i)]);
    return true;
  }
  bool Length(uint32_t* n) {
    uint64_t v;
    if (!UInt(4, &v)) return false;
    if (v > 0x7FFFFFFF) return Bad("a negative length");
    *n = static_cast<uint32_t>(v);
    return true;
  }
  bool ShortString(std::string* out) {
    uint8_t n = 0;
    std::string_view b;
    if (!Byte(&n) || !Bytes(n, &b)) return false;
    out->assign(b);
    return true;
  }
  // 8-bit text: bytes above 127 are taken as Latin-1.
  static std::string FromAnsi(std::string_view b) {
    std::string out;
    for (char c : b) PutUtf8(out, static_cast<uint8_t>(c));
    return out;
  }

  bool Count() {
    if (++values_ > kMaxValues) return Bad("too many values");
    return true;
  }

  bool Value(FormValue* v, int depth) {
    if (depth > kMaxDepth) return Bad("values nested too deeply");
    if (!Count()) return false;
    uint8_t type = 0;
    if (!Byte(&type)) return false;
    uint64_t u = 0;
    std::string_view b;
    uint32_t n = 0;
    switch (type) {
      case vaInt8:
        if (!UInt(1, &u)) return false;
        v->type = FormValue::Type::Int;
        v->i = static_cast<int8_t>(u);
        return true;
      case vaInt16:
        if (!UInt(2, &u)) return false;
        v->type = FormValue::Type::Int;
        v->i = static_cast<int16_t>(u);
        return true;
      case vaInt32:
        if (!UInt(4, &u)) return false;
        v->type = FormValue::Type::Int;
        v->i = static_cast<int32_t>(u);
        return true;
      case vaInt64:
        if (!UInt(8, &u)) return false;
        v->type = FormValue::Type::Int;
        v->i = static_cast<int64_t>(u);
        return true;
      case vaExtended: {
        uint64_t mantissa = 0, top = 0;
        if (!UInt(8, &mantissa) || !UInt(2, &top)) return false;
        v->type = FormValue::Type::Float;
        const int exponent = static_cast<int>(top & 0x7FFF);
        double m = std::ldexp(static_cast<double>(mantissa), -63);
        if (exponent == 0x7FFF) v->d = mantissa << 1 ? NAN : INFINITY;
        else v->d = mantissa == 0 ? 0.0 : std::ldexp(m, exponent - 16383);
        if (top & 0x8000) v->d = -v->d;
        return true;
      }
      case vaSingle: {
        if (!UInt(4, &u)) return false;
        float f;
        const auto bits = static_cast<uint32_t>(u);
        std::memcpy(&f, &bits, 4);
        v->type = FormValue::Type::Float;
        v->d = f;
        return true;
      }
      case vaDouble:
      case vaDate:
        if (!UInt(8, &u)) return false;
        v->type = FormValue::Type::Float;
        std::memcpy(&v->d, &u, 8);
        return true;
      case vaCurrency:
        if (!UInt(8, &u)) return false;
        v->type = FormValue::Type::Float;
        v->d = static_cast<double>(static_cast<int64_t>(u)) / 10000.0;
        return true;
      case vaString: {
        uint8_t len = 0;
        if (!Byte(&len) || !Bytes(len, &b)) return false;
        v->type = FormValue::Type::String;
        v->text = FromAnsi(b);
        return true;
      }
      case vaLString:
        if (!Length(&n) || !Bytes(n, &b)) return false;
        v->type = FormValue::Type::String;
        v->text = FromAnsi(b);
        return true;
      case vaUTF8String:
        if (!Length(&n) || !Bytes(n, &b)) return false;
        v->type = FormValue::Type::String;
        v->text.assign(b);
        return true;
      case vaWString: {
        if (!Length(&n) || n > (s_.size() - pos_) / 2 || !Bytes(static_cast<size_t>(n) * 2, &b)) {
          return Bad("a wide text beyond the end");
        }
        v->type = FormValue::Type::String;
        for (size_t k = 0; k < b.size(); k += 2) {
          uint32_t cu = static_cast<uint8_t>(b[k]) | static_cast<uint32_t>(static_cast<uint8_t>(b[k + 1])) << 8;
          if (cu >= 0xD800 && cu < 0xDC00 && k + 3 < b.size()) {
            uint32_t lo = static_cast<uint8_t>(b[k + 2]) | static_cast<uint32_t>(static_cast<uint8_t>(b[k + 3])) << 8;
            if (lo >= 0xDC00 && lo < 0xE000) {
              cu = 0x10000 + ((cu - 0xD800) << 10) + (lo - 0xDC00);
              k += 2;
            }
          }
          if (cu >= 0xD800 && cu < 0xE000) cu = 0xFFFD;
          PutUtf8(v->text, cu);
        }
        return true;
      }
      case vaIdent:
        v->type = FormValue::Type::Ident;
        return ShortString(&v->text);
      case vaFalse:
      case vaTrue:
        v->type = FormValue::Type::Bool;
        v->i = type == vaTrue;
        return true;
      case vaNil:
        v->type = FormValue::Type::Nil;
        return true;
      case vaBinary:
        if (!Length(&n) || !Bytes(n, &b)) return false;
        v->type = FormValue::Type::Binary;
        v->text.assign(b);
        return true;
      case vaSet:
        v->type = FormValue::Type::Set;
        for (;;) {
          std::string name;
          if (!Count() || !ShortString(&name)) return false;
          if (name.empty()) return true;
          v->names.push_back(std::move(name));
        }
      case vaList:
        v->type = FormValue::Type::List;
        for (;;) {
          uint8_t next = 0;
          if (!Peek(&next)) return false;
          if (next == vaNull) {
            ++pos_;
            return true;
          }
          v->items.emplace_back();
          if (!Value(&v->items.back(), depth + 1)) return false;
        }
      case vaCollection:
        v->type = FormValue::Type::Collection;
        for (;;) {
          uint8_t next = 0;
          if (!Peek(&next)) return false;
          if (next == vaNull) {
            ++pos_;
            return true;
          }
          if (next == vaInt8 || next == vaInt16 || next == vaInt32) {
            FormValue order;  // the item's index; not kept
            if (!Value(&order, depth + 1)) return false;
          }
          uint8_t list = 0;
          if (!Byte(&list)) return false;
          if (list != vaList) return Bad("a collection item without its list");
          v->collection.emplace_back();
          if (!Properties(&v->collection.back(), depth + 1)) return false;
        }
      default:
        --pos_;
        return Bad("unknown value type " + std::to_string(type));
    }
  }

  bool Properties(std::vector<FormProperty>* props, int depth) {
    for (;;) {
      std::string name;
      if (!Count() || !ShortString(&name)) return false;
      if (name.empty()) return true;
      props->push_back(FormProperty{std::move(name), FormValue()});
      if (!Value(&props->back().value, depth + 1)) return false;
    }
  }

  bool Component(FormObject* o, int depth) {
    if (depth > kMaxDepth) return Bad("components nested too deeply");
    if (!Count()) return false;
    uint8_t first = 0;
    if (!Peek(&first)) return false;
    if ((first & 0xF0) == 0xF0) {  // flags prefix (inherited, child position, inline)
      ++pos_;
      if (first & 0x02) {
        FormValue position;
        if (!Value(&position, depth + 1)) return false;
        if (position.type != FormValue::Type::Int) return Bad("a child position that is no number");
      }
    }
    if (!ShortString(&o->className) || !ShortString(&o->name)) return false;
    if (o->className.empty()) return Bad("a component without a class name");
    if (!Properties(&o->properties, depth)) return false;
    for (;;) {
      uint8_t next = 0;
      if (!Peek(&next)) return false;
      if (next == 0) {
        ++pos_;
        return true;
      }
      o->children.emplace_back();
      if (!Component(&o->children.back(), depth + 1)) return false;
    }
  }

  std::string_view s_;
  size_t pos_ = 0;
  size_t values_ = 0;
  std::string error_;
};

std::string Quoted(const std::string& text) {
  if (text.empty()) return "''";
  std::string out;
  bool open = false;
  for (char c : text) {
    const auto u = static_cast<unsigned char>(c);
    if (u < 0x20) {
      if (open) out.push_back('\'');
      open = false;
      out += "#" + std::to_string(u);
      continue;
    }
    if (!open) out.push_back('\'');
    open = true;
    if (c == '\'') out.push_back('\'');
    out.push_back(c);
  }
  if (open) out.push_back('\'');
  return out;
}

std::string Number(double d) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.17g", d);
  std::string s = buf;
  if (s.find_first_of(".eEn") == std::string::npos) s += ".0";
  return s;
}

void ValueText(const FormValue& v, const std::string& indent, std::string& out);

void PropertiesText(const std::vector<FormProperty>& props, const std::string& indent,
                    std::string& out) {
  for (const auto& [name, value] : props) {
    out += indent + name + " = ";
    ValueText(value, indent, out);
    out += "\n";
  }
}

void ValueText(const FormValue& v, const std::string& indent, std::string& out) {
  switch (v.type) {
    case FormValue::Type::Int:
      out += std::to_string(v.i);
      return;
    case FormValue::Type::Float:
      out += Number(v.d);
      return;
    case FormValue::Type::String:
      out += Quoted(v.text);
      return;
    case FormValue::Type::Ident:
      out += v.text;
      return;
    case FormValue::Type::Bool:
      out += v.i ? "True" : "False";
      return;
    case FormValue::Type::Nil:
      out += "nil";
      return;
    case FormValue::Type::Set:
      out += "[";
      for (size_t k = 0; k < v.names.size(); ++k) out += (k ? ", " : "") + v.names[k];
      out += "]";
      return;
    case FormValue::Type::List:
      out += "(";
      for (size_t k = 0; k < v.items.size(); ++k) {
        if (k) out += " ";
        ValueText(v.items[k], indent, out);
      }
      out += ")";
      return;
    case FormValue::Type::Binary: {
      out += "{";
      static const char kHex[] = "0123456789ABCDEF";
      for (char c : v.text) {
        out.push_back(kHex[static_cast<uint8_t>(c) >> 4]);
        out.push_back(kHex[static_cast<uint8_t>(c) & 15]);
      }
      out += "}";
      return;
    }
    case FormValue::Type::Collection:
      out += "<";
      for (const auto& item : v.collection) {
        out += "\n" + indent + "  item\n";
        PropertiesText(item, indent + "    ", out);
        out += indent + "  end";
      }
      out += ">";
      return;
  }
}

void ObjectText(const FormObject& o, const std::string& indent, std::string& out) {
  out += indent + "object " + o.name + ": " + o.className + "\n";
  PropertiesText(o.properties, indent + "  ", out);
  for (const auto& child : o.children) ObjectText(child, indent + "  ", out);
  out += indent + "end\n";
}

}  // namespace

const FormValue* FormObject::Property(std::string_view property) const {
  for (const auto& [name, value] : properties)
    if (name == property) return &value;
  return nullptr;
}

const FormObject* FormObject::Find(std::string_view component) const {
  if (name == component) return this;
  for (const auto& child : children)
    if (const FormObject* found = child.Find(component)) return found;
  return nullptr;
}

bool ReadFormStream(std::string_view bytes, FormObject* form, std::string* error) {
  *form = FormObject();
  return Reader(bytes).Form(form, error);
}

std::string FormToText(const FormObject& form) {
  std::string out;
  ObjectText(form, "", out);
  return out;
}

}  // namespace host
