// A form as the host receives it: a binary component stream (signature
// "TPF0", then the form with its properties and child components).  The
// reader checks every length against the bytes it has and bounds nesting
// and counts, so any input gives a tree or a message, never a crash.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace host {

struct FormProperty;

struct FormValue {
  enum class Type { Int, Float, String, Ident, Bool, Nil, Set, List, Binary, Collection };
  Type type = Type::Nil;
  int64_t i = 0;                   // Int, Bool (0 or 1)
  double d = 0;                    // Float
  std::string text;                // String and Ident (UTF-8), Binary (raw bytes)
  std::vector<std::string> names;  // Set
  std::vector<FormValue> items;    // List
  // Collection: each item's properties.
  std::vector<std::vector<FormProperty>> collection;
};

struct FormProperty {
  std::string name;
  FormValue value;
};

struct FormObject {
  std::string className;
  std::string name;
  std::vector<FormProperty> properties;
  std::vector<FormObject> children;

  // The first property of that name; null when it is not stored.
  const FormValue* Property(std::string_view property) const;
  // This object or the first descendant (depth first) of that name.
  const FormObject* Find(std::string_view component) const;
};

// Reads a whole stream; false with a message when it is not a well-formed
// component stream or goes beyond the reader's bounds.
bool ReadFormStream(std::string_view bytes, FormObject* form, std::string* error);

// The text notation: "object Name: Class", "Property = value" lines and
// "end", two spaces per level, LF line ends.
std::string FormToText(const FormObject& form);

}  // namespace host
