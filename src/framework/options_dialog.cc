// The options-dialog exchange: GetOptionsDialog hands the host the module's
// options form (form stream, extra text, form script) in one package;
// ShowOptionsDialog runs the module's own options handling and makes every
// instance that shares this one's settings reload them.
#include <algorithm>
#include <cstring>
#include <exception>
#include <stdexcept>
#include <string>
#include <string_view>

#include "framework/call_rec.h"
#include "framework/command_params.h"
#include "framework/exports_impl.h"
#include "framework/instance_registry.h"
#include "framework/kel_plugin.h"
#include "framework/module_settings.h"
#include "platform/port.h"

namespace kel {

namespace {

constexpr uint32_t kPackageHeaderSize = 24;
// No resource has a longer name: the host's bytes past this are not read.
constexpr size_t kMaxFormNameBytes = 1024;
constexpr uint32_t kNotifySendTimeoutMs = 1000;

constexpr char kFormDataResource[] = "FORM_DATA";
constexpr char kFormNameResource[] = "FORM_NAME";
constexpr char kFormCodeSuffix[] = "_CODE";

std::string_view Resource(const std::string& name) {
  std::string_view data;
  if (name.empty() || !port::FindRawResource(name, &data)) return {};
  return data;
}

std::string UpTo0(std::string_view text) { return std::string(text.substr(0, text.find('\0'))); }

// The form name the host put in its buffer: the bytes up to the first zero,
// at most Input.Size of them.  Read fault-safely, a piece at a time.
std::string RequestedFormName(const TPluginCallRec* rec) {
  const auto* at = reinterpret_cast<const char*>(rec->Input.Value);
  const size_t limit = std::min<size_t>(rec->Input.Size, kMaxFormNameBytes);
  std::string name;
  if (!at) return name;
  char piece[64];
  while (name.size() < limit) {
    const size_t n = std::min(sizeof piece, limit - name.size());
    if (!port::SafeRead(at + name.size(), piece, n)) {
      // The readable part may end inside the piece: go byte by byte.
      for (size_t i = name.size(); i < limit; ++i) {
        char c;
        if (!port::SafeRead(at + i, &c, 1) || c == '\0') return name;
        name.push_back(c);
      }
      return name;
    }
    const void* zero = std::memchr(piece, 0, n);
    if (zero) {
      name.append(piece, static_cast<const char*>(zero) - piece);
      return name;
    }
    name.append(piece, n);
  }
  return name;
}

struct FormParts {
  std::string_view form;
  std::string_view script;
};

// A named form: the resource of that name and its "_CODE" script.
FormParts NamedForm(const std::string& name) {
  const std::string upper = port::AnsiUpper(name);
  return {Resource(upper), Resource(upper + kFormCodeSuffix)};
}

// The module's own form: the script "FORM_DATA" and the form that
// "FORM_NAME" names.
FormParts DefaultForm() {
  FormParts parts;
  parts.script = Resource(kFormDataResource);
  const std::string name = port::AnsiUpper(UpTo0(Resource(kFormNameResource)));
  if (!name.empty()) parts.form = Resource(name);
  return parts;
}

void PutLE32(uint8_t* at, uint32_t v) {
  for (int i = 0; i < 4; ++i) at[i] = static_cast<uint8_t>(v >> (8 * i));
}

// Writes the package into the host's buffer, or tells the size it needs.
void DeliverPackage(TPluginCallRec* rec, std::string_view form, std::string_view extra, std::string_view script) {
  const uint64_t data = static_cast<uint64_t>(form.size()) + extra.size() + script.size();
  if (data == 0 || data > UINT32_MAX - kPackageHeaderSize) {
    rec->Output.Value = 2;  // nothing to deliver
    return;
  }
  const auto total = static_cast<uint32_t>(data + kPackageHeaderSize);
  auto* buffer = reinterpret_cast<uint8_t*>(rec->Input.Value);
  // Only Input.Size is trusted; a buffer that cannot even be read is no
  // place to write to, and the host hears the size it needs.
  uint8_t probe;
  if (rec->Input.Size < total || !buffer || !port::SafeRead(buffer, &probe, 1) ||
      !port::SafeRead(buffer + total - 1, &probe, 1)) {
    rec->Output.Value = 3;
    rec->Output.Size = total;
    return;
  }
  const auto formLength = static_cast<uint32_t>(form.size());
  const auto extraLength = static_cast<uint32_t>(extra.size());
  const auto scriptLength = static_cast<uint32_t>(script.size());
  uint8_t header[kPackageHeaderSize];
  PutLE32(header + 0, kPackageHeaderSize);
  PutLE32(header + 4, formLength);
  PutLE32(header + 8, kPackageHeaderSize + formLength);
  PutLE32(header + 12, extraLength);
  PutLE32(header + 16, kPackageHeaderSize + formLength + extraLength);
  PutLE32(header + 20, scriptLength);
  std::memcpy(buffer, header, sizeof header);
  uint8_t* at = buffer + kPackageHeaderSize;
  if (!form.empty()) std::memcpy(at, form.data(), form.size());
  at += form.size();
  if (!extra.empty()) std::memcpy(at, extra.data(), extra.size());
  at += extra.size();
  if (!script.empty()) std::memcpy(at, script.data(), script.size());
  rec->Output.Kind = KEL_KIND_COPIED;
  rec->Output.Size = 0;
  rec->Output.Value = total;
}

// Step 6 of the show-options call: every instance with the same registry
// path reloads its settings, directly when it was loaded on this thread,
// otherwise through message 1812 to its host window.  The registry is only
// read for the snapshot; no instance is called under its lock.
void PropagateSettingsChanged(TkelPlugin& changedBy) {
  const std::string path = changedBy.ModuleRegistryPath.Get();
  const uint32_t thisThread = port::CurrentThreadId();
  for (const auto& x : SnapshotInstances()) {
    try {
      if (!x || !x->OnLoadSettingsNow || x->ModuleRegistryPath.Get() != path) continue;
      if (x->LoadThreadId.load() == thisThread) {
        // A reload is a settings command of that instance: one at a time.
        port::Guard one(x->CommandLock);
        x->OnLoadSettingsNow(*x);
        continue;
      }
      const uintptr_t target = x->MsgProcHandle.load();
      if (target == 0) continue;
      const auto index = static_cast<uint32_t>(x->ModuleIndex.load());
      if (!port::PostNotify(target, KEL_MSG_SETTINGS_CHANGED, index, 0))
        port::SendNotifyTimeout(target, KEL_MSG_SETTINGS_CHANGED, index, 0, kNotifySendTimeoutMs);
    } catch (...) {
      // One instance's failure does not keep the others from hearing of it.
    }
  }
}

}  // namespace

void DoGetOptionsDialog(TPluginCallRec* rec) {
  if (!RecordReadable(rec)) return;
  rec->Output.Kind = KEL_KIND_STATUS;
  rec->Output.Size = 0;
  rec->Output.Value = 1;
  std::shared_ptr<TkelPlugin> inst;
  try {
    inst = ResolveRecord(rec);
  } catch (...) {
  }
  if (!inst) return;
  try {
    std::string name = RequestedFormName(rec);
    if (!inst->OnGetOptionsDialog || !name.empty()) {
      FormParts parts = name.empty() ? DefaultForm() : NamedForm(name);
      DeliverPackage(rec, parts.form, {}, parts.script);
      return;
    }
    std::string extra;
    name.clear();
    inst->OnGetOptionsDialog(*inst, rec, name, extra);
    if (name.empty() && extra.empty()) {
      rec->Output.Value = 2;
      return;
    }
    FormParts parts;
    if (!name.empty()) parts = NamedForm(name);
    DeliverPackage(rec, parts.form, extra, parts.script);
  } catch (const std::exception& e) {
    // A failing handler delivers nothing; the host hears "nothing to
    // deliver" and the instance log tells why.
    rec->Output.Kind = KEL_KIND_STATUS;
    rec->Output.Size = 0;
    rec->Output.Value = 2;
    ReportError(inst.get(), "GETOPTIONS", e.what());
  } catch (...) {
    rec->Output.Kind = KEL_KIND_STATUS;
    rec->Output.Size = 0;
    rec->Output.Value = 2;
    ReportError(inst.get(), "GETOPTIONS", "unknown failure");
  }
}

void DoShowOptionsDialog(TPluginCallRec* rec) {
  if (!RecordReadable(rec)) return;
  rec->Output.Kind = KEL_KIND_STATUS;
  rec->Output.Size = 4;
  rec->Output.Value = 2;
  std::shared_ptr<TkelPlugin> inst;
  try {
    inst = ResolveRecord(rec);
  } catch (...) {
  }
  if (!inst) return;
  if (!inst->OnShowOptionsDialog) {
    rec->Output.Value = 3;
    return;
  }
  rec->Output.Value = 4;
  bool changed = false;
  bool handled = false;
  TPluginCallRecIntft book;
  try {
    // The dialog changes the instance's settings fields: not alongside a
    // command of the same instance.
    port::Guard one(inst->CommandLock);
    try {
      if (!PrepareCallRec(rec, book)) throw std::runtime_error("the parameter list cannot be read");
      if (const ParamsRef& list = book.ParamsIntf) {
        CommandParams params(list);
        inst->INIFile = params.Text("INI-FILE");
        if (auto lang = params.Get("LANGUAGE")) SwitchLanguage(*inst, lang->ToAnsi());
        if (auto owner = params.Get("OWNER-FORM")) inst->OwnerForm = static_cast<uintptr_t>(owner->ToInt64());
      }
      inst->OptionsDialogOpen = true;
      inst->OptionsCallTypes = rec->CallTypes;
      inst->OptionsParams = DescriptorParams(rec->Input);
      try {
        inst->OnShowOptionsDialog(*inst, rec, changed);
        handled = true;
        rec->Output.Value = changed ? 1 : 0;
      } catch (const std::exception& e) {
        // The handler did not return: the call stays failed (4) and
        // nothing is reloaded.
        inst->AddLog(kLogError, std::string(e.what()) + " {SHOWOPTIONS}");
      } catch (...) {
        inst->AddLog(kLogError, "unknown failure {SHOWOPTIONS}");
      }
    } catch (...) {
      inst->OptionsDialogOpen = false;
      inst->OptionsParams.reset();
      inst->OptionsCallTypes = 0;
      throw;
    }
    inst->OptionsDialogOpen = false;
    inst->OptionsParams.reset();
    inst->OptionsCallTypes = 0;
  } catch (const std::exception& e) {
    ReportError(inst.get(), "SHOWOPTIONS", e.what());
  } catch (...) {
    ReportError(inst.get(), "SHOWOPTIONS", "unknown failure");
  }
  // Outside the instance's own lock: the others' locks are taken one at a
  // time, never nested in this one.
  if (handled && changed) PropagateSettingsChanged(*inst);
  RestoreCallRec(rec, book);
}

}  // namespace kel
