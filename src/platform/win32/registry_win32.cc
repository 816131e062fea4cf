// The Windows registry behind port::Registry.
#include <windows.h>

#include <cstring>

#include "platform/registry.h"

namespace port {

struct Registry::Impl {
  HKEY key = nullptr;
  void Close() {
    if (key) RegCloseKey(key);
    key = nullptr;
  }
};

// The predefined keys are sign-extended on 64-bit Windows (HKEY_CURRENT_USER
// is 0xFFFFFFFF80000001 there); going through a signed 32-bit value gives
// the right handle on both builds.
static HKEY RootHandle(uint32_t root) {
  return reinterpret_cast<HKEY>(static_cast<intptr_t>(static_cast<int32_t>(root)));
}

Registry::Registry(uint32_t rootKey) : root_(rootKey), impl_(std::make_unique<Impl>()) {}
Registry::~Registry() { impl_->Close(); }

bool Registry::OpenKey(const std::string& path, bool create) {
  std::string full = Resolve(path);
  HKEY h = nullptr;
  LONG r;
  if (create)
    r = RegCreateKeyExA(RootHandle(root_), full.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &h, nullptr);
  else
    r = RegOpenKeyExA(RootHandle(root_), full.c_str(), 0, KEY_ALL_ACCESS, &h);
  if (r != ERROR_SUCCESS) return false;
  impl_->Close();
  impl_->key = h;
  current_ = full;
  open_ = true;
  readOnly_ = false;
  return true;
}

bool Registry::OpenKeyReadOnly(const std::string& path) {
  std::string full = Resolve(path);
  HKEY h = nullptr;
  if (RegOpenKeyExA(RootHandle(root_), full.c_str(), 0, KEY_READ, &h) != ERROR_SUCCESS) return false;
  impl_->Close();
  impl_->key = h;
  current_ = full;
  open_ = true;
  readOnly_ = true;
  return true;
}

void Registry::CloseKey() {
  impl_->Close();
  current_.clear();
  open_ = false;
}

bool Registry::KeyExists(const std::string& path) {
  HKEY h = nullptr;
  if (RegOpenKeyExA(RootHandle(root_), Resolve(path).c_str(), 0, KEY_READ, &h) != ERROR_SUCCESS) return false;
  RegCloseKey(h);
  return true;
}

static bool DeleteTree(HKEY parent, const std::string& sub) {
  HKEY h = nullptr;
  if (RegOpenKeyExA(parent, sub.c_str(), 0, KEY_ALL_ACCESS, &h) != ERROR_SUCCESS) return false;
  char name[256];
  for (;;) {
    DWORD len = sizeof name;
    if (RegEnumKeyExA(h, 0, name, &len, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
    if (!DeleteTree(h, name)) break;
  }
  RegCloseKey(h);
  return RegDeleteKeyA(parent, sub.c_str()) == ERROR_SUCCESS;
}

bool Registry::DeleteKey(const std::string& path) {
  if (readOnly_) return false;
  return DeleteTree(RootHandle(root_), Resolve(path));
}

std::vector<std::string> Registry::GetKeyNames() {
  std::vector<std::string> names;
  if (!impl_->key) return names;
  char name[256];
  for (DWORD i = 0;; ++i) {
    DWORD len = sizeof name;
    if (RegEnumKeyExA(impl_->key, i, name, &len, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
    names.emplace_back(name, len);
  }
  return names;
}

bool Registry::HasSubKeys() { return !GetKeyNames().empty(); }

std::vector<std::string> Registry::GetValueNames() {
  std::vector<std::string> names;
  if (!impl_->key) return names;
  char name[16384];
  for (DWORD i = 0;; ++i) {
    DWORD len = sizeof name;
    if (RegEnumValueA(impl_->key, i, name, &len, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
    names.emplace_back(name, len);
  }
  return names;
}

bool Registry::ValueExists(const std::string& name) { return GetDataType(name) != RegType::None; }

RegType Registry::GetDataType(const std::string& name) {
  if (!impl_->key) return RegType::None;
  DWORD type = 0;
  if (RegQueryValueExA(impl_->key, name.c_str(), nullptr, &type, nullptr, nullptr) != ERROR_SUCCESS)
    return RegType::None;
  switch (type) {
    case REG_DWORD: return RegType::Integer;
    case REG_SZ:
    case REG_EXPAND_SZ: return RegType::String;
    case REG_BINARY: return RegType::Binary;
    default: return RegType::None;
  }
}

bool Registry::ReadInteger(const std::string& name, int32_t* value) {
  if (!impl_->key) return false;
  DWORD type = 0, size = 4, v = 0;
  if (RegQueryValueExA(impl_->key, name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(&v), &size) !=
          ERROR_SUCCESS ||
      type != REG_DWORD)
    return false;
  *value = static_cast<int32_t>(v);
  return true;
}

static bool ReadRaw(HKEY key, const std::string& name, DWORD want, std::string* out) {
  DWORD type = 0, size = 0;
  if (RegQueryValueExA(key, name.c_str(), nullptr, &type, nullptr, &size) != ERROR_SUCCESS) return false;
  if (type != want && !(want == REG_SZ && type == REG_EXPAND_SZ)) return false;
  std::string data(size, '\0');
  if (size && RegQueryValueExA(key, name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(data.data()), &size) !=
                  ERROR_SUCCESS)
    return false;
  data.resize(size);
  if (want == REG_SZ)
    while (!data.empty() && data.back() == '\0') data.pop_back();
  *out = std::move(data);
  return true;
}

bool Registry::ReadString(const std::string& name, std::string* value) {
  return impl_->key && ReadRaw(impl_->key, name, REG_SZ, value);
}

bool Registry::ReadBinary(const std::string& name, std::string* value) {
  return impl_->key && ReadRaw(impl_->key, name, REG_BINARY, value);
}

bool Registry::WriteInteger(const std::string& name, int32_t value) {
  if (!impl_->key || readOnly_) return false;
  DWORD v = static_cast<DWORD>(value);
  return RegSetValueExA(impl_->key, name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&v), 4) ==
         ERROR_SUCCESS;
}

bool Registry::WriteString(const std::string& name, const std::string& value) {
  if (!impl_->key || readOnly_) return false;
  return RegSetValueExA(impl_->key, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                        static_cast<DWORD>(value.size() + 1)) == ERROR_SUCCESS;
}

bool Registry::WriteBinary(const std::string& name, const std::string& value) {
  if (!impl_->key || readOnly_) return false;
  return RegSetValueExA(impl_->key, name.c_str(), 0, REG_BINARY, reinterpret_cast<const BYTE*>(value.data()),
                        static_cast<DWORD>(value.size())) == ERROR_SUCCESS;
}

bool Registry::DeleteValue(const std::string& name) {
  if (!impl_->key || readOnly_) return false;
  return RegDeleteValueA(impl_->key, name.c_str()) == ERROR_SUCCESS;
}

bool Registry::BeginUpdate() { return true; }
bool Registry::EndUpdate() { return true; }

}  // namespace port
