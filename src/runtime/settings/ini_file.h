// An INI file held in memory: sections of key=value lines, names compared
// without regard to ASCII case, order kept.  Parsing is forgiving: a line
// that is neither a section header nor a key line is passed over.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace kel {

class TIniFile {
 public:
  TIniFile() = default;
  explicit TIniFile(std::string_view text) { Parse(text); }

  void Parse(std::string_view text);
  std::string Text() const;
  bool Modified() const { return modified_; }

  bool SectionExists(std::string_view section) const;
  bool ValueExists(std::string_view section, std::string_view key) const;
  // False when the key is missing.
  bool Read(std::string_view section, std::string_view key, std::string* value) const;
  std::string ReadString(std::string_view section, std::string_view key, const std::string& def) const;
  int32_t ReadInteger(std::string_view section, std::string_view key, int32_t def) const;
  double ReadFloat(std::string_view section, std::string_view key, double def) const;
  void WriteString(std::string_view section, std::string_view key, const std::string& value);
  void WriteInteger(std::string_view section, std::string_view key, int32_t value);
  void WriteFloat(std::string_view section, std::string_view key, double value);
  bool DeleteKey(std::string_view section, std::string_view key);
  bool EraseSection(std::string_view section);
  std::vector<std::string> SectionNames() const;
  std::vector<std::string> SectionKeys(std::string_view section) const;

 private:
  struct Entry {
    std::string key;
    std::string value;
  };
  struct Section {
    std::string name;
    std::vector<Entry> entries;
  };
  Section* Find(std::string_view name);
  const Section* Find(std::string_view name) const;

  std::vector<Section> sections_;
  bool modified_ = false;
};

// Text of a float as the INI store writes it (shortest round-trip form).
std::string FloatText(double value);

}  // namespace kel
