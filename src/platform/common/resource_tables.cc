#include "platform/common/resource_tables.h"

#include <vector>

#include "platform/port.h"

namespace port {

namespace {

struct Table {
  const EmbeddedResource* entries;
  size_t count;
};

// Made on first use, freed with the library.
CriticalSection& TablesLock() {
  static CriticalSection lock;
  return lock;
}
std::vector<Table>& Tables() REQUIRES(TablesLock()) {
  static std::vector<Table> tables;
  return tables;
}

bool SameName(std::string_view a, const char* b) {
  size_t i = 0;
  for (; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (y == '\0') return false;
    if (x >= 'a' && x <= 'z') x = static_cast<char>(x - 'a' + 'A');
    if (y >= 'a' && y <= 'z') y = static_cast<char>(y - 'a' + 'A');
    if (x != y) return false;
  }
  return b[i] == '\0';
}

}  // namespace

void RegisterResources(const EmbeddedResource* table, size_t count) {
  if (!table) return;
  Guard g(TablesLock());
  auto& tables = Tables();
  for (auto it = tables.begin(); it != tables.end(); ++it) {
    if (it->entries == table) {
      tables.erase(it);
      break;
    }
  }
  tables.push_back({table, count});
}

void UnregisterResources(const EmbeddedResource* table) {
  Guard g(TablesLock());
  auto& tables = Tables();
  for (auto it = tables.begin(); it != tables.end(); ++it) {
    if (it->entries == table) {
      tables.erase(it);
      return;
    }
  }
}

namespace detail {

bool FindRegisteredResource(std::string_view name, std::string_view* data) {
  Guard g(TablesLock());
  const auto& tables = Tables();
  for (auto t = tables.rbegin(); t != tables.rend(); ++t) {
    for (size_t i = 0; i < t->count; ++i) {
      const EmbeddedResource& r = t->entries[i];
      if (r.name && SameName(name, r.name)) {
        if (data) *data = std::string_view(reinterpret_cast<const char*>(r.data), r.size);
        return true;
      }
    }
  }
  return false;
}

}  // namespace detail

}  // namespace port
