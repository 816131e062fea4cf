// The registry emulation on POSIX: one store file per root.
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <unordered_map>

#include "platform/port.h"
#include "platform/registry.h"

namespace port {

namespace {

std::string LowerAscii(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return s;
}

struct Value {
  std::string name;
  RegType type = RegType::None;
  std::string data;  // integers: 4 bytes little-endian
};

struct Key {
  std::string path;  // as first written
  std::vector<Value> values;
  Value* Find(const std::string& name) {
    std::string l = LowerAscii(name);
    for (auto& v : values)
      if (LowerAscii(v.name) == l) return &v;
    return nullptr;
  }
};

using Store = std::map<std::string, Key>;  // by lower-cased path

const char kMagic[] = "BACNETIP-REGISTRY 1";
// A store is small; a bigger file is left alone rather than read.
constexpr size_t kMaxStoreSize = 64u << 20;

std::string Escape(const std::string& s) {
  static const char hex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(s.size());
  for (unsigned char c : s) {
    if (c <= 0x20 || c >= 0x7F || c == '%' || c == '[' || c == ']') {
      out.push_back('%');
      out.push_back(hex[c >> 4]);
      out.push_back(hex[c & 15]);
    } else {
      out.push_back(static_cast<char>(c));
    }
  }
  return out;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

bool Unescape(const std::string& s, std::string* out) {
  out->clear();
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] != '%') {
      out->push_back(s[i]);
      continue;
    }
    if (i + 2 >= s.size()) return false;
    int h = HexDigit(s[i + 1]), l = HexDigit(s[i + 2]);
    if (h < 0 || l < 0) return false;
    out->push_back(static_cast<char>(h * 16 + l));
    i += 2;
  }
  return true;
}

// Reads as much of a store as makes sense; a damaged line is skipped.
Store Parse(const std::string& text) {
  Store store;
  Key* current = nullptr;
  // Value positions of every key by lower-cased name, so that a store with
  // many values reads in time proportional to its size.
  std::unordered_map<const Key*, std::unordered_map<std::string, size_t>> positions;
  size_t at = 0;
  bool first = true;
  while (at < text.size()) {
    size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(at, end - at);
    at = end + 1;
    if (first) {
      first = false;
      if (line != kMagic) return store;  // not a store of ours
      continue;
    }
    if (line.size() >= 2 && line.front() == '[' && line.back() == ']') {
      std::string path;
      if (!Unescape(line.substr(1, line.size() - 2), &path)) {
        current = nullptr;
        continue;
      }
      Key& k = store[LowerAscii(path)];
      if (k.path.empty()) k.path = path;
      current = &k;
      continue;
    }
    if (!current || line.size() < 3 || line[1] != ' ') continue;
    size_t sp = line.find(' ', 2);
    if (sp == std::string::npos) continue;
    Value v;
    if (!Unescape(line.substr(2, sp - 2), &v.name)) continue;
    std::string payload = line.substr(sp + 1);
    if (line[0] == 'i') {
      char* e = nullptr;
      long long n = std::strtoll(payload.c_str(), &e, 10);
      if (!e || *e || payload.empty()) continue;
      uint32_t u = static_cast<uint32_t>(n);
      v.type = RegType::Integer;
      v.data.assign(reinterpret_cast<const char*>(&u), 4);
    } else if (line[0] == 's') {
      v.type = RegType::String;
      if (!Unescape(payload, &v.data)) continue;
    } else if (line[0] == 'b') {
      v.type = RegType::Binary;
      if (payload.size() % 2) continue;
      bool ok = true;
      for (size_t i = 0; ok && i < payload.size(); i += 2) {
        int h = HexDigit(payload[i]), l = HexDigit(payload[i + 1]);
        if (h < 0 || l < 0) ok = false;
        else v.data.push_back(static_cast<char>(h * 16 + l));
      }
      if (!ok) continue;
    } else {
      continue;
    }
    auto& at = positions[current];
    auto [it, added] = at.emplace(LowerAscii(v.name), current->values.size());
    if (added) current->values.push_back(std::move(v));
    else current->values[it->second] = std::move(v);
  }
  return store;
}

std::string Serialize(const Store& store) {
  static const char hex[] = "0123456789ABCDEF";
  std::string out = std::string(kMagic) + "\n";
  for (const auto& [lower, key] : store) {
    out += "[" + Escape(key.path) + "]\n";
    for (const auto& v : key.values) {
      switch (v.type) {
        case RegType::Integer: {
          int32_t n = 0;
          std::memcpy(&n, v.data.data(), v.data.size() < 4 ? v.data.size() : 4);
          out += "i " + Escape(v.name) + " " + std::to_string(n) + "\n";
          break;
        }
        case RegType::String:
          out += "s " + Escape(v.name) + " " + Escape(v.data) + "\n";
          break;
        case RegType::Binary: {
          out += "b " + Escape(v.name) + " ";
          for (unsigned char c : v.data) {
            out.push_back(hex[c >> 4]);
            out.push_back(hex[c & 15]);
          }
          out += "\n";
          break;
        }
        case RegType::None:
          break;
      }
    }
  }
  return out;
}

// A folder can hold a store when it exists and can be written, or when the
// nearest folder that exists above it can be written (it is made on the
// first write, never by reading).
bool CanHoldStore(const std::string& dir) {
  std::string d = dir;
  while (!d.empty()) {
    if (DirectoryExists(d)) return ::access(d.c_str(), W_OK) == 0;
    if (FileExists(d)) return false;
    size_t cut = d.find_last_of('/');
    if (cut == std::string::npos || cut == 0) break;
    d.resize(cut);
  }
  return ::access("/", W_OK) == 0;
}

std::string StoreFile(uint32_t root, bool* usable) {
  *usable = true;
  std::string dir = GetEnv("BACNETIP_REGISTRY_DIR");
  std::string file;
  switch (root) {
    case kHKEY_CLASSES_ROOT: file = "classes.reg"; break;
    case kHKEY_CURRENT_USER: file = "user.reg"; break;
    case kHKEY_USERS: file = "users.reg"; break;
    case kHKEY_CURRENT_CONFIG: file = "config.reg"; break;
    case kHKEY_LOCAL_MACHINE: {
      file = "machine.reg";
      std::string m = GetEnv("BACNETIP_REGISTRY_MACHINE_DIR");
      if (m.empty()) m = dir.empty() ? "/var/lib/bacnetip" : dir + "/machine";
      *usable = CanHoldStore(m);
      return m + "/" + file;
    }
    default:
      *usable = false;
      return {};
  }
  if (dir.empty()) dir = ConfigDirectory() + "bacnetip";
  *usable = CanHoldStore(dir);
  return dir + "/" + file;
}

bool WriteStore(const std::string& file, const std::string& text) {
  size_t cut = file.find_last_of('/');
  if (cut != std::string::npos && !CreateDirectories(file.substr(0, cut))) return false;
  return WriteFileAtomic(file, text);
}

// Keys from the root down to path, so that every parent exists.
void EnsureKey(Store& store, const std::string& path) {
  size_t at = 0;
  while (true) {
    size_t bs = path.find('\\', at);
    std::string part = bs == std::string::npos ? path : path.substr(0, bs);
    if (!part.empty()) {
      Key& k = store[LowerAscii(part)];
      if (k.path.empty()) k.path = part;
    }
    if (bs == std::string::npos) break;
    at = bs + 1;
  }
}

}  // namespace

struct Registry::Impl {
  std::string file;
  bool usable = false;
  Store store;
  std::unique_ptr<NamedLock> batch;  // held between BeginUpdate and EndUpdate
  bool dirty = false;
  bool readable = true;  // false while the file is there but cannot be read

  // A store file that is there but cannot be read reads as empty and is never
  // written: writing it would replace every key of the root with ours.
  void Load() {
    if (batch) return;  // the batch's snapshot is the current state
    std::string text;
    if (ReadFile(file, &text, kMaxStoreSize)) {
      store = Parse(text);
      readable = true;
    } else {
      store = Store();
      readable = !FileExists(file);
    }
  }
  // Reads the store again under the cross-process lock, applies change and
  // writes the store back atomically (or, inside a batch, marks it dirty).
  template <class F>
  bool Update(F change) {
    if (batch) {
      if (!change(store)) return false;
      dirty = true;
      return true;
    }
    NamedLock lock("registry-" + file);
    if (!lock.Acquire(10000)) return false;
    Load();
    if (!readable || !change(store)) return false;
    return WriteStore(file, Serialize(store));
  }
};

bool Registry::BeginUpdate() {
  if (!impl_->usable || impl_->batch) return impl_->usable;
  auto lock = std::make_unique<NamedLock>("registry-" + impl_->file);
  if (!lock->Acquire(10000)) return false;
  impl_->Load();
  if (!impl_->readable) return false;
  impl_->batch = std::move(lock);
  impl_->dirty = false;
  return true;
}

bool Registry::EndUpdate() {
  if (!impl_->batch) return true;
  bool ok = !impl_->dirty || WriteStore(impl_->file, Serialize(impl_->store));
  impl_->batch.reset();
  impl_->dirty = false;
  return ok;
}

Registry::Registry(uint32_t rootKey) : root_(rootKey), impl_(std::make_unique<Impl>()) {
  impl_->file = StoreFile(rootKey, &impl_->usable);
}

Registry::~Registry() = default;

bool Registry::OpenKey(const std::string& path, bool create) {
  if (!impl_->usable) return false;
  std::string full = Resolve(path);
  impl_->Load();
  if (!full.empty() && !impl_->store.count(LowerAscii(full))) {
    if (!create) return false;
    if (!impl_->Update([&](Store& s) {
          EnsureKey(s, full);
          return true;
        }))
      return false;
  }
  current_ = full;
  open_ = true;
  readOnly_ = false;
  return true;
}

bool Registry::OpenKeyReadOnly(const std::string& path) {
  if (!OpenKey(path, false)) return false;
  readOnly_ = true;
  return true;
}

void Registry::CloseKey() {
  current_.clear();
  open_ = false;
}

bool Registry::KeyExists(const std::string& path) {
  if (!impl_->usable) return false;
  impl_->Load();
  std::string full = Resolve(path);
  return full.empty() || impl_->store.count(LowerAscii(full)) > 0;
}

bool Registry::DeleteKey(const std::string& path) {
  if (!impl_->usable || readOnly_) return false;
  std::string full = Resolve(path);
  if (full.empty()) return false;
  std::string lower = LowerAscii(full);
  return impl_->Update([&](Store& s) {
    bool any = s.erase(lower) > 0;
    for (auto it = s.begin(); it != s.end();) {
      if (it->first.size() > lower.size() && it->first.compare(0, lower.size(), lower) == 0 &&
          it->first[lower.size()] == '\\') {
        it = s.erase(it);
        any = true;
      } else {
        ++it;
      }
    }
    return any;
  });
}

std::vector<std::string> Registry::GetKeyNames() {
  std::vector<std::string> names;
  if (!open_) return names;
  std::string prefix = current_.empty() ? std::string() : LowerAscii(current_) + "\\";
  for (const auto& [lower, key] : impl_->store) {
    if (lower.size() <= prefix.size() || lower.compare(0, prefix.size(), prefix) != 0) continue;
    std::string rest = key.path.substr(prefix.size());
    if (rest.find('\\') == std::string::npos) names.push_back(rest);
  }
  return names;
}

bool Registry::HasSubKeys() { return !GetKeyNames().empty(); }

std::vector<std::string> Registry::GetValueNames() {
  std::vector<std::string> names;
  if (!open_) return names;
  auto it = impl_->store.find(LowerAscii(current_));
  if (it != impl_->store.end())
    for (const auto& v : it->second.values) names.push_back(v.name);
  return names;
}

bool Registry::ValueExists(const std::string& name) { return GetDataType(name) != RegType::None; }

RegType Registry::GetDataType(const std::string& name) {
  if (!open_) return RegType::None;
  auto it = impl_->store.find(LowerAscii(current_));
  if (it == impl_->store.end()) return RegType::None;
  Value* v = it->second.Find(name);
  return v ? v->type : RegType::None;
}

bool Registry::ReadInteger(const std::string& name, int32_t* value) {
  if (!open_) return false;
  auto it = impl_->store.find(LowerAscii(current_));
  if (it == impl_->store.end()) return false;
  Value* v = it->second.Find(name);
  if (!v || v->type != RegType::Integer || v->data.size() != 4) return false;
  std::memcpy(value, v->data.data(), 4);
  return true;
}

bool Registry::ReadString(const std::string& name, std::string* value) {
  if (!open_) return false;
  auto it = impl_->store.find(LowerAscii(current_));
  if (it == impl_->store.end()) return false;
  Value* v = it->second.Find(name);
  if (!v || v->type != RegType::String) return false;
  *value = v->data;
  return true;
}

bool Registry::ReadBinary(const std::string& name, std::string* value) {
  if (!open_) return false;
  auto it = impl_->store.find(LowerAscii(current_));
  if (it == impl_->store.end()) return false;
  Value* v = it->second.Find(name);
  if (!v || v->type != RegType::Binary) return false;
  *value = v->data;
  return true;
}

static bool WriteValue(Registry::Impl& impl, bool open, bool readOnly, const std::string& key,
                       const std::string& name, RegType type, std::string data) {
  if (!open || readOnly || !impl.usable) return false;
  return impl.Update([&](Store& s) {
    EnsureKey(s, key);
    Key& k = s[LowerAscii(key)];
    if (k.path.empty()) k.path = key;
    if (Value* v = k.Find(name)) {
      v->type = type;
      v->data = data;
    } else {
      k.values.push_back(Value{name, type, data});
    }
    return true;
  });
}

bool Registry::WriteInteger(const std::string& name, int32_t value) {
  return WriteValue(*impl_, open_, readOnly_, current_, name, RegType::Integer,
                    std::string(reinterpret_cast<const char*>(&value), 4));
}

bool Registry::WriteString(const std::string& name, const std::string& value) {
  return WriteValue(*impl_, open_, readOnly_, current_, name, RegType::String, value);
}

bool Registry::WriteBinary(const std::string& name, const std::string& value) {
  return WriteValue(*impl_, open_, readOnly_, current_, name, RegType::Binary, value);
}

bool Registry::DeleteValue(const std::string& name) {
  if (!open_ || readOnly_ || !impl_->usable) return false;
  std::string lower = LowerAscii(current_);
  std::string lname = LowerAscii(name);
  return impl_->Update([&](Store& s) {
    auto it = s.find(lower);
    if (it == s.end()) return false;
    auto& vals = it->second.values;
    for (size_t i = 0; i < vals.size(); ++i) {
      if (LowerAscii(vals[i].name) == lname) {
        vals.erase(vals.begin() + static_cast<std::ptrdiff_t>(i));
        return true;
      }
    }
    return false;
  });
}

}  // namespace port
