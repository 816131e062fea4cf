// The parameter list: an ordered list of owned, named, typed values.  Several
// records may share one list, each closed by a row marker item.
//
// Layout matters: the boundary tells a raw list from an interface pointer by
// the signature that sits right after the storage header (table pointer, item
// array, count, capacity), at byte offset 2 * pointer size + 8.
#pragma once

#include <cstdint>
#include <string_view>

#include "bacnetip/plugin_abi.h"
#include "params/params_list_item.h"
#include "runtime/settings/wreg_values.h"
#include "runtime/variant.h"

namespace kel {

inline constexpr uint32_t kParamsListSignature = KEL_LIST_SIGNATURE;
inline constexpr size_t kParamsListSignatureOffset = 2 * sizeof(void*) + 8;

// The settings reach a list's values by name (TWregValues: GetValue, and
// SetValue adding what is missing).  The interface adds no data: the table
// pointer stays the list's first word.
class TkelParamsList : public TWregValues {
 public:
  TkelParamsList();
  ~TkelParamsList() override;
  TkelParamsList(const TkelParamsList&) = delete;
  TkelParamsList& operator=(const TkelParamsList&) = delete;

  int32_t Count() const { return count_; }
  // Null when index is outside 0..Count()-1.
  TkelParamsListItem* Items(int32_t index) const;
  void Clear();
  // Removes and frees one item; an index outside the list does nothing.
  void Delete(int32_t index);

  // Lookup by lower-cased name (not trimmed) in From..To.  To < 0 or beyond
  // the list means the end; To == -2 also stops at the end of the current row.
  int32_t IndexOf(std::string_view name, int32_t from = 0, int32_t to = -1) const;
  TkelParamsListItem* FindItem(std::string_view name, int32_t from = 0, int32_t to = -1) const;
  Variant GetValue(std::string_view name, int32_t from = 0, int32_t to = -1) const;
  Variant GetValueDef(std::string_view name, const Variant& def, int32_t from = 0,
                      int32_t to = -1) const;

  // Null (list unchanged) when the name is blank.  No check for duplicates.
  TkelParamsListItem* Add(std::string_view name, const Variant& value);
  // As Add, with the key (the name lower-cased) made once beforehand.
  TkelParamsListItem* AddKeyed(std::string_view name, std::string_view key, const Variant& value);
  TkelParamsListItem* AddKeyed(std::string_view name, std::string_view key, Variant&& value);
  // As Add at position 0..Count(); other positions throw EListError.
  TkelParamsListItem* Insert(int32_t index, std::string_view name, const Variant& value);
  // Sets the first item of that name; adds one when missing and addIfMissing.
  TkelParamsListItem* SetValue(std::string_view name, const Variant& value, bool addIfMissing);

  // Appends a copy of another list's item (value, key, data type and state).
  virtual TkelParamsListItem* AddItem(const TkelParamsListItem* source);
  // Appends an item read through an item interface (name, value, key, data
  // type, state).  Throws EIntfCallFailed when the value cannot be read.
  virtual TkelParamsListItem* AddItemFrom(IkelParamsListItemA* source);

  // False for a null or empty source; otherwise appends its items.
  bool AddList(const TkelParamsList* source);
  bool AddListRange(const TkelParamsList* source, int32_t from, int32_t to);
  // Makes room for n items in all, so that adding up to that many does not
  // grow the list again.
  void Reserve(int32_t n);
  // Moves every item of source to the end of this list; source is left empty.
  void TakeItems(TkelParamsList& source);

  // Finds the end of the row that contains index From: the next marker, or
  // the last item.  False (outs untouched) when From is beyond the list.
  bool FindRowEnd(int32_t from, int32_t& index, bool& isMarker) const;
  // Appends a row marker unless the last item already is one.
  void AddNewRow();
  // Appends the source's items and closes the row.  A null source does nothing.
  void AppendRow(const TkelParamsList* source);

  // Strict forms: throw EAssertion("Parameter is not defined") when missing.
  Variant GetDefinedValue(std::string_view name) const;
  void SetDefinedValue(std::string_view name, const Variant& value);

  uint32_t Signature() const { return signature_; }
  int32_t Tag() const { return tag_; }
  void SetTag(int32_t tag) { tag_ = tag; }

  Variant GetWregValue(std::string_view name) const override { return GetValue(name); }
  void SetWregValue(std::string_view name, const Variant& value) override { SetValue(name, value, true); }

  // Throws EAssertion unless list is a live list.
  static void CheckSignature(const TkelParamsList* list);

 private:
  TkelParamsListItem* Append(TkelParamsListItem* item);
  TkelParamsListItem* InsertAt(int32_t index, TkelParamsListItem* item);
  // Makes room for one more item (always: grows even when there is room).
  void Grow(bool always = false);

  // The storage header and the signature: order and types are fixed.
  TkelParamsListItem** items_ = nullptr;
  int32_t count_ = 0;
  int32_t capacity_ = 0;
  uint32_t signature_ = kParamsListSignature;
  int32_t tag_ = 0;
};

}  // namespace kel
