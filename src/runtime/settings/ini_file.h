// An INI file held in memory: sections of key=value lines, names compared
// without regard to ASCII case and to blanks around them, order kept.
// Parsing is forgiving: a line that is neither a section header nor a key
// line is passed over.  Lookups are hashed, so a large file parses in time
// proportional to its size.
#pragma once

#include <string>
#include <string_view>
#include <unordered_map>
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
  // False when the key is missing or its value is not a number of the kind.
  bool TryReadInteger(std::string_view section, std::string_view key, int32_t* value) const;
  bool TryReadFloat(std::string_view section, std::string_view key, double* value) const;
  int32_t ReadInteger(std::string_view section, std::string_view key, int32_t def) const;
  double ReadFloat(std::string_view section, std::string_view key, double def) const;
  // False (nothing written) for names the file cannot hold: a key that is
  // empty, contains "=" or a line break, or starts with ";", "#" or "[", or a
  // section name with a line break.
  bool WriteString(std::string_view section, std::string_view key, const std::string& value);
  bool WriteInteger(std::string_view section, std::string_view key, int32_t value);
  bool WriteFloat(std::string_view section, std::string_view key, double value);
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
    std::unordered_map<std::string, size_t> index;  // lower-cased key -> entry
    const Entry* Get(std::string_view key) const;
    void Put(std::string_view key, std::string value);
    void Reindex();
  };
  Section* Find(std::string_view name);
  const Section* Find(std::string_view name) const;
  Section& Add(std::string_view name);
  void ReindexSections();

  std::vector<Section> sections_;
  std::unordered_map<std::string, size_t> sectionIndex_;  // lower-cased name -> section
  bool modified_ = false;
};

// Text of a float as the INI store writes it (shortest round-trip form).
std::string FloatText(double value);

}  // namespace kel
