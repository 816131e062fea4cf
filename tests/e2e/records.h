// The records bachost writes as JSON lines, read back for the tests: one
// flat object of items per record, in delivery order.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace e2e {

struct JsonValue {
  enum Kind { Null, Number, Text, Bool } kind = Null;
  double number = 0;
  std::string text;
  bool flag = false;
};

struct Record {
  int source = 0;
  std::string via;
  std::vector<std::pair<std::string, JsonValue>> items;

  const JsonValue* Find(const std::string& name) const;
  std::string Text(const std::string& name) const;
  double Number(const std::string& name) const;
  std::vector<std::string> Names() const;
};

// Every line of text that is a record; false in ok for a line that is not.
std::vector<Record> ParseRecords(const std::string& text, bool* ok = nullptr);

}  // namespace e2e
