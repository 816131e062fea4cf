#include "parsed_records.h"

#include <cstdlib>
#include <cstring>

#include "platform/port.h"

namespace host {

namespace {

// The receiver of an out variant frees its text.
void ClearVariant(kel_variant* v) {
  if (v->vt == KEL_VT_BSTR && v->u.bstr) port::SysFreeString(v->u.bstr);
  std::memset(v, 0, sizeof *v);
}

}  // namespace

NamedValues ReadList(IkelParamsListA* list) {
  NamedValues out;
  if (!list) return out;
  const int32_t n = list->vtbl->GetCount(list);
  for (int32_t i = 0; i < n; ++i) {
    IkelParamsListItemA* item = nullptr;
    if (list->vtbl->GetItem(list, i, &item) != 0 || !item) continue;
    const char* name = item->vtbl->GetName(item);
    kel_variant v;
    std::memset(&v, 0, sizeof v);
    HostValue value;
    if (item->vtbl->GetValue(item, &v) == 0) value = HostValue::FromVariant(&v);
    ClearVariant(&v);
    // Names cross the A interface in the ANSI code page (the system's on
    // Windows); the host works in UTF-8.
    out.emplace_back(name ? port::AnsiToUtf8(name) : "", value);
    item->vtbl->Release(item);
  }
  return out;
}

ParsedRecord ReadParsedRecord(const TPluginCallRec* rec) {
  ParsedRecord r;
  if (!rec) return r;
  TPluginValue in, out;
  std::memcpy(&in, &rec->Input, sizeof in);
  std::memcpy(&out, &rec->Output, sizeof out);
  if (in.Kind == KEL_KIND_BUFFER && in.Value && in.Size)
    r.rawText.assign(reinterpret_cast<const char*>(in.Value), in.Size);
  if (out.Kind == KEL_KIND_LIST_INTF && out.Value) r.items = ReadList(*reinterpret_cast<IkelParamsListA**>(out.Value));
  return r;
}

std::string FormatRecord(const ParsedRecord& record) {
  std::string s;
  if (!record.rawText.empty()) s += "  raw: " + record.rawText + "\n";
  for (const auto& [name, value] : record.items) s += "  " + name + "=" + value.ToText() + "\n";
  return s;
}

}  // namespace host
