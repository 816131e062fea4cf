// A small JSON reader for building files: bounded depth and size, numbers as
// doubles, strings decoded to UTF-8.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace bacsim {

struct Json {
  enum Type { kNull, kBool, kNumber, kString, kArray, kObject };
  Type type = kNull;
  bool boolean = false;
  double number = 0;
  std::string text;
  std::vector<Json> items;        // array
  std::vector<std::string> keys;  // object: member names in file order,
  std::vector<Json> values;       // and their values

  const Json* Find(std::string_view key) const;
};

constexpr size_t kMaxJsonSize = 16 * 1024 * 1024;
constexpr int kMaxJsonDepth = 32;

// Fails with a message naming the line for text that is not one JSON value,
// nests deeper than kMaxJsonDepth or is larger than kMaxJsonSize.
bool ParseJson(std::string_view text, Json& out, std::string& error);

}  // namespace bacsim
