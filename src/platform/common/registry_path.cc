// Key paths shared by both registries: "\" separated, a leading "\" makes a
// path absolute from the root, empty parts are dropped.
#include "platform/registry.h"

namespace port {

namespace {

std::string Normalize(const std::string& path) {
  std::string out;
  for (char c : path) {
    if (c == '\\' && (out.empty() || out.back() == '\\')) continue;
    out.push_back(c);
  }
  while (!out.empty() && out.back() == '\\') out.pop_back();
  return out;
}

}  // namespace

std::string Registry::Resolve(const std::string& path) const {
  if (!path.empty() && path[0] == '\\') return Normalize(path);
  if (current_.empty()) return Normalize(path);
  if (path.empty()) return current_;
  return Normalize(current_ + "\\" + path);
}

}  // namespace port
