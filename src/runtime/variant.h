// Variant values inside the module.  A Variant owns its text; it becomes an
// OLE VARIANT (kel_variant) only at the boundary, through ToBoundary and
// FromBoundary.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "bacnetip/plugin_abi.h"

namespace kel {

enum class VarType : uint16_t {
  Empty = KEL_VT_EMPTY,
  Null = KEL_VT_NULL,
  I2 = KEL_VT_I2,
  I4 = KEL_VT_I4,
  R4 = KEL_VT_R4,
  R8 = KEL_VT_R8,
  Currency = KEL_VT_CY,
  Date = KEL_VT_DATE,
  OleStr = KEL_VT_BSTR,  // UTF-16 text
  Bool = KEL_VT_BOOL,
  I1 = KEL_VT_I1,
  UI1 = KEL_VT_UI1,
  UI2 = KEL_VT_UI2,
  UI4 = KEL_VT_UI4,
  I8 = KEL_VT_I8,
  UI8 = KEL_VT_UI8,
  String = 0x0100,  // 8-bit text in the ANSI code page
};

// How a boundary variant's by-pointer texts are read.
enum class TextFlavour { Ansi, Wide };

class Variant {
 public:
  Variant() = default;
  static Variant Null();
  static Variant FromI2(int16_t v);
  static Variant FromI1(int8_t v);
  static Variant FromUI1(uint8_t v);
  static Variant FromUI2(uint16_t v);
  static Variant FromR4(float v);
  static Variant FromCurrency(int64_t scaled);  // value * 10000
  static Variant FromDate(double days);         // days since 30 December 1899
  static Variant FromOleStr(std::u16string s);
  Variant(int32_t v);
  Variant(uint32_t v);
  Variant(int64_t v);
  Variant(uint64_t v);
  Variant(double v);
  Variant(bool v);
  Variant(std::string s);  // 8-bit text
  Variant(const char* s);
  Variant(std::string_view s);

  // In-place setters: no temporary is made (the decoders' hot path).
  void SetNull() { SetScalar(VarType::Null, 0, 0); }
  void SetBool(bool v) { SetScalar(VarType::Bool, v ? 1 : 0, 0); }
  void SetUI4(uint32_t v) { SetScalar(VarType::UI4, v, 0); }
  void SetI4(int32_t v) { SetScalar(VarType::I4, v, 0); }
  void SetR8(double v) { SetScalar(VarType::R8, 0, v); }

  VarType Type() const { return type_; }
  bool IsEmpty() const { return type_ == VarType::Empty; }
  bool IsNull() const { return type_ == VarType::Null; }
  bool IsEmptyOrNull() const { return IsEmpty() || IsNull(); }
  bool IsText() const { return type_ == VarType::String || type_ == VarType::OleStr; }

  // Conversions in the manner of automation variants; they never throw.
  // ok (optional) tells whether the value converted cleanly.
  int64_t ToInt64(bool* ok = nullptr) const;
  int32_t ToInt32(bool* ok = nullptr) const { return static_cast<int32_t>(ToInt64(ok)); }
  double ToDouble(bool* ok = nullptr) const;
  bool ToBool(bool* ok = nullptr) const;
  std::string ToAnsi() const;       // text form, 8-bit
  std::u16string ToUtf16() const;   // text form, UTF-16

  // Converts the value in place to another type; false (value unchanged) when
  // it cannot be converted.
  bool ChangeType(VarType to);

  // Raw access.
  int64_t RawInt() const { return i_; }
  double RawDouble() const { return d_; }
  const std::string& RawString() const { return s8_; }
  const std::u16string& RawOleStr() const { return s16_; }

  // Boundary: reads an incoming VARIANT (null pointer gives Empty); the
  // by-pointer text types are read according to flavour.
  static Variant FromBoundary(const kel_variant* v, TextFlavour flavour);
  // Writes into an out VARIANT, which the caller has cleared; an 8-bit string
  // leaves as an OLE string.
  void ToBoundary(kel_variant* out) const;

  bool operator==(const Variant& o) const;
  bool operator!=(const Variant& o) const { return !(*this == o); }

 private:
  static Variant Make(VarType type, int64_t i, double d);
  void SetScalar(VarType type, int64_t i, double d) {
    type_ = type;
    i_ = i;
    d_ = d;
    if (!s8_.empty()) s8_.clear();
    if (!s16_.empty()) s16_.clear();
  }

  VarType type_ = VarType::Empty;
  int64_t i_ = 0;   // integers, booleans (0/1), currency (scaled)
  double d_ = 0.0;  // R4, R8, Date
  std::string s8_;
  std::u16string s16_;
};

// Clears an out VARIANT (frees its BSTR) and zeroes it.
void ClearBoundary(kel_variant* v);
// Zeroes a VARIANT without freeing anything.
void InitBoundary(kel_variant* v);

}  // namespace kel
