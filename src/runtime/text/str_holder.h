// TkelStrHolder: a component that keeps a list of lines inside a form or
// data-module description (the data module keeps its persistence map in one).
// Its stored form carries the lines, lightly obscured with KeyString, in
// "StrData", and the encoding version in "InternalVer".
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "runtime/component/component.h"

namespace kel {

// The two extra values of a holder's stored form; a missing value is absent.
struct TStrHolderStored {
  std::optional<int32_t> InternalVer;
  std::optional<std::vector<std::string>> StrData;  // key first, then the encoded lines
};

class TkelStrHolder : public TComponent {
 public:
  static constexpr int32_t kCurrentVersion = 2;

  explicit TkelStrHolder(TComponent* owner = nullptr);
  static const TClassInfo& StaticClass();
  const TClassInfo& ClassInfo() const override { return StaticClass(); }

  TStrings Strings;       // OnChanging / OnChange of the lines live here
  std::string KeyString;  // not a stored property; travels inside StrData

  void Assign(const TStrings& lines) { Strings.Assign(lines); }
  void Assign(const TkelStrHolder& other) { Strings.Assign(other.Strings); }

  // The stored form; with an ancestor (the holder of an inherited description)
  // StrData is written only when it differs and InternalVer not at all.
  TStrHolderStored WriteStored(const TkelStrHolder* ancestor = nullptr) const;
  // Reads InternalVer first (kept for the following StrData, so an inherited
  // description read after its ancestor decodes with the ancestor's version),
  // then StrData.
  void ReadStored(const TStrHolderStored& stored);
  int32_t StoredVersion() const { return version_; }

  // One line in the encoding of the given version (0, 1 or 2), and back.
  // Decoding stops at the first pair of characters that is not hexadecimal.
  static std::string EncodeLine(std::string_view line, std::string_view key, int32_t version);
  static std::string DecodeLine(std::string_view data, std::string_view key, int32_t version);

 private:
  int32_t version_ = 0;  // version of the stored form being read; 0 when missing
};

}  // namespace kel
