#include "runtime/text/str_holder.h"

#include "platform/port.h"
#include "runtime/text/text_utils.h"

namespace kel {

namespace {

const char* const kDuplicatesNames[] = {"dupIgnore", "dupAccept", "dupError"};

TkelStrHolder& Holder(TComponent& c) { return static_cast<TkelStrHolder&>(c); }
const TkelStrHolder& Holder(const TComponent& c) { return static_cast<const TkelStrHolder&>(c); }

const TPropInfo kHolderProps[] = {
    [] {
      TPropInfo p;
      p.name = "Capacity";
      p.kind = TPropKind::Integer;
      p.getInt = [](const TComponent& c) -> int64_t { return Holder(c).Strings.Capacity(); };
      p.setInt = [](TComponent& c, int64_t v) {
        if (v >= 0 && v <= INT32_MAX) Holder(c).Strings.SetCapacity(static_cast<int32_t>(v));
      };
      return p;
    }(),
    [] {
      TPropInfo p;
      p.name = "Duplicates";
      p.kind = TPropKind::Enum;
      p.enumNames = kDuplicatesNames;
      p.enumCount = 3;
      p.getInt = [](const TComponent& c) -> int64_t { return static_cast<int64_t>(Holder(c).Strings.Duplicates()); };
      p.setInt = [](TComponent& c, int64_t v) {
        if (v >= 0 && v < 3) Holder(c).Strings.SetDuplicates(static_cast<TDuplicates>(v));
      };
      return p;
    }(),
    TextProp<&TkelStrHolder::KeyString>("KeyString"),
    [] {
      TPropInfo p;
      p.name = "Sorted";
      p.kind = TPropKind::Boolean;
      p.getInt = [](const TComponent& c) -> int64_t { return Holder(c).Strings.Sorted() ? 1 : 0; };
      p.setInt = [](TComponent& c, int64_t v) { Holder(c).Strings.SetSorted(v != 0); };
      return p;
    }(),
    StringsProp<&TkelStrHolder::Strings>("Strings"),
};
const TClassInfo kHolderClass{"TkelStrHolder", &TComponent::StaticClass(), kHolderProps, std::size(kHolderProps)};

const char kHex[] = "0123456789abcdef";

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::string XorBytes(std::string_view data, std::string_view key) {
  std::string out(data);
  if (!key.empty())
    for (size_t i = 0; i < out.size(); ++i) out[i] = static_cast<char>(out[i] ^ key[i % key.size()]);
  return out;
}

std::string ToHex(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size() * 2);
  for (char c : bytes) {
    auto b = static_cast<unsigned char>(c);
    out.push_back(kHex[b >> 4]);
    out.push_back(kHex[b & 15]);
  }
  return out;
}

std::string FromHex(std::string_view hex) {
  std::string out;
  out.reserve(hex.size() / 2);
  for (size_t i = 0; i + 1 < hex.size(); i += 2) {
    int hi = HexValue(hex[i]), lo = HexValue(hex[i + 1]);
    if (hi < 0 || lo < 0) break;
    out.push_back(static_cast<char>(hi * 16 + lo));
  }
  return out;
}

bool SameLines(const TkelStrHolder& a, const TkelStrHolder& b) {
  if (a.KeyString != b.KeyString || a.Strings.Count() != b.Strings.Count()) return false;
  for (size_t i = 0; i < a.Strings.Count(); ++i)
    if (!SameTextAscii(a.Strings[i], b.Strings[i])) return false;
  return true;
}

}  // namespace

const TClassInfo& TkelStrHolder::StaticClass() { return kHolderClass; }

TkelStrHolder::TkelStrHolder(TComponent* owner) : TComponent(owner) {}

std::string TkelStrHolder::EncodeLine(std::string_view line, std::string_view key, int32_t version) {
  if (version <= 0) return XorBytes(line.substr(0, 255), key);
  if (version == 1) return ToHex(XorBytes(line, key));
  return ToHex(XorBytes(port::AnsiToUtf8(line), port::AnsiToUtf8(key)));
}

std::string TkelStrHolder::DecodeLine(std::string_view data, std::string_view key, int32_t version) {
  if (version <= 0) return XorBytes(data.substr(0, 255), key);
  if (version == 1) return XorBytes(FromHex(data), key);
  return port::Utf8ToAnsi(XorBytes(FromHex(data), port::AnsiToUtf8(key)));
}

TStrHolderStored TkelStrHolder::WriteStored(const TkelStrHolder* ancestor) const {
  TStrHolderStored out;
  if (!ancestor) out.InternalVer = kCurrentVersion;
  const bool write = ancestor ? !SameLines(*this, *ancestor) : (Strings.Count() > 0 || !KeyString.empty());
  if (write) {
    std::vector<std::string> data;
    data.reserve(Strings.Count() + 1);
    data.push_back(KeyString);
    for (const auto& line : Strings.Lines()) data.push_back(EncodeLine(line, KeyString, kCurrentVersion));
    out.StrData = std::move(data);
  }
  return out;
}

void TkelStrHolder::ReadStored(const TStrHolderStored& stored) {
  if (stored.InternalVer) version_ = *stored.InternalVer;
  if (!stored.StrData) return;
  const auto& data = *stored.StrData;
  std::vector<std::string> lines;
  KeyString = data.empty() ? std::string() : data[0];
  for (size_t i = 1; i < data.size(); ++i) lines.push_back(DecodeLine(data[i], KeyString, version_));
  Strings.AssignLines(std::move(lines));
}

}  // namespace kel
