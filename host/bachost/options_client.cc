#include "options_client.h"

#include "form_stream.h"
#include "options_package.h"

namespace host {

bool FetchOptionsPackage(const PluginExports& x, uint32_t instance, std::string* package, std::string* error) {
  TPluginCallRec rec = NewCallRec();
  rec.Instance = instance;
  rec.Input.Kind = KEL_KIND_BUFFER;
  x.GetOptionsDialog(&rec);
  const uint32_t status = static_cast<uint32_t>(rec.Output.Value);
  if (rec.Output.Kind != KEL_KIND_STATUS || status != 3) {
    *error = "GetOptionsDialog with an empty buffer: kind " + std::to_string(rec.Output.Kind) + ", status " +
             std::to_string(status) + " (3 and the size were expected)";
    return false;
  }
  const uint32_t size = rec.Output.Size;
  if (size < 24) {
    *error = "needed size " + std::to_string(size) + " is shorter than the header";
    return false;
  }
  std::string buffer(size, '\0');  // a zero first byte: no form name, the module's own form
  rec = NewCallRec();
  rec.Instance = instance;
  rec.Input.Kind = KEL_KIND_BUFFER;
  rec.Input.Size = size;
  rec.Input.Value = reinterpret_cast<uintptr_t>(buffer.data());
  x.GetOptionsDialog(&rec);
  if (rec.Output.Kind != KEL_KIND_COPIED || rec.Output.Value != size || rec.Output.Size != 0) {
    *error = "GetOptionsDialog with " + std::to_string(size) + " bytes: kind " + std::to_string(rec.Output.Kind) +
             ", value " + std::to_string(static_cast<uint64_t>(rec.Output.Value));
    return false;
  }
  *package = std::move(buffer);
  return true;
}

int PrintOptions(const PluginExports& x, uint32_t instance, std::ostream& out) {
  std::string bytes, error;
  if (!FetchOptionsPackage(x, instance, &bytes, &error)) {
    out << "options: " << error << "\n";
    return 1;
  }
  OptionsPackage package;
  if (!SplitOptionsPackage(bytes, &package, &error)) {
    out << "options: bad package: " << error << "\n";
    return 1;
  }
  out << "package: " << bytes.size() << " bytes (form " << package.form.size() << ", extra " << package.extra.size()
      << ", script " << package.script.size() << ")\n";
  if (!package.extra.empty()) out << "== extra text\n" << package.extra << "\n";
  std::string text;
  FormPackageText sections;
  if (!Gunzip(package.script, &text, &error) || !SplitFormPackageText(text, &sections, &error)) {
    out << "options: bad script: " << error << "\n";
    return 1;
  }
  out << "== script\n" << sections.script << "\n";
  out << "== form name\n" << sections.formName << "\n";
  out << "== persistence map\n" << sections.map;
  FormObject form;
  if (!ReadFormStream(package.form, &form, &error)) {
    out << "options: bad form: " << error << "\n";
    return 1;
  }
  out << "== form\n" << FormToText(form);
  return 0;
}

void SettingsChangedLog::OnMessage(uint32_t message, uint32_t wparam, uint32_t) {
  if (message != KEL_MSG_SETTINGS_CHANGED) return;
  std::lock_guard<std::mutex> g(m_);
  indexes_.push_back(wparam);
  cv_.notify_all();
}

std::vector<uint32_t> SettingsChangedLog::WaitFor(size_t count, std::chrono::milliseconds bound) {
  std::unique_lock<std::mutex> g(m_);
  cv_.wait_for(g, bound, [&] { return indexes_.size() >= count; });
  return indexes_;
}

const char* ShowOptionsStatusText(uint32_t status) {
  switch (status) {
    case 0: return "not changed";
    case 1: return "changed";
    case 2: return "instance not found";
    case 3: return "no options handler";
    case 4: return "the call failed";
    default: return "unknown status";
  }
}

int64_t ShowOptions(const PluginExports& x, uint32_t instance, SettingsChangedLog* log, size_t expectedMessages,
                    std::chrono::milliseconds bound, std::ostream& out) {
  TPluginCallRec rec = NewCallRec();
  rec.Instance = instance;
  x.ShowOptionsDialog(&rec);
  if (rec.Output.Kind != KEL_KIND_STATUS) {
    out << "show-options: no status (kind " << static_cast<int>(rec.Output.Kind) << ")\n";
    return -1;
  }
  const auto status = static_cast<uint32_t>(rec.Output.Value);
  out << "show-options: status " << status << " (" << ShowOptionsStatusText(status) << ")\n";
  if (log) {
    for (uint32_t index : log->WaitFor(expectedMessages, bound))
      out << "message 1812 (settings changed) for module index " << index << "\n";
  }
  return status;
}

}  // namespace host
