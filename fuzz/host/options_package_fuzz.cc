// The host's side of the options package on any bytes: the header check,
// the form-stream reader and printer, gzip and the three-section split.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "form_stream.h"
#include "options_package.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  std::string error;
  host::FormObject form;
  if (host::ReadFormStream(bytes, &form, &error)) {
    const std::string text = host::FormToText(form);
    if (text.empty()) __builtin_trap();
  }
  host::OptionsPackage package;
  if (host::SplitOptionsPackage(bytes, &package, &error)) {
    if (package.form.size() + package.extra.size() + package.script.size() + 24 != size) __builtin_trap();
    host::ReadFormStream(package.form, &form, &error);
    std::string text;
    if (host::Gunzip(package.script, &text, &error, 1u << 20)) {
      host::FormPackageText sections;
      host::SplitFormPackageText(text, &sections, &error);
    }
  }
  std::string text;
  if (host::Gunzip(bytes, &text, &error, 1u << 20)) {
    if (text.size() > (1u << 20)) __builtin_trap();
  }
  host::FormPackageText sections;
  host::SplitFormPackageText(bytes, &sections, &error);
  return 0;
}
