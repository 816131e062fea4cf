#include "framework/module_params.h"

#include <charconv>
#include <optional>

#include "framework/kel_plugin.h"
#include "framework/module_settings.h"
#include "params/params_list.h"
#include "params/thread_params_list.h"
#include "platform/port.h"
#include "runtime/text/text_utils.h"

namespace kel {

namespace {

// A handle of the host: 32 bits on 32-bit builds, the whole pointer-sized
// value on 64-bit ones.
Variant HandleValue(uintptr_t h) {
  if constexpr (sizeof(uintptr_t) > 4) return Variant(static_cast<uint64_t>(h));
  else return Variant(static_cast<uint32_t>(h));
}

constexpr std::string_view kCustom = "Custom";

// A "Custom" name: the key after the prefix (one " ", ":" or "_" dropped),
// and its index when the key is a decimal number of fewer than 3 digits.
struct CustomName {
  std::string key;
  std::optional<int32_t> index;
};

std::optional<CustomName> ParseCustom(const std::string& name) {
  if (name.compare(0, kCustom.size(), kCustom) != 0) return std::nullopt;
  std::string key = name.substr(kCustom.size());
  if (!key.empty() && (key[0] == ' ' || key[0] == ':' || key[0] == '_')) key.erase(0, 1);
  if (key.empty()) return std::nullopt;
  CustomName c{key, std::nullopt};
  if (key.size() < 3) {
    int32_t n = 0;
    auto [end, ec] = std::from_chars(key.data(), key.data() + key.size(), n);
    if (ec == std::errc() && end == key.data() + key.size() && n >= 0) c.index = n;
  }
  return c;
}

// "ParserItemName" + index: at most 3 characters from the 15th on.
std::optional<int32_t> ParserItemIndex(const std::string& name, std::string_view prefix, int32_t count) {
  if (name.size() <= prefix.size() || name.compare(0, prefix.size(), prefix) != 0) return std::nullopt;
  std::string digits = name.substr(prefix.size(), 3);
  int32_t n = -1;
  auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), n);
  if (ec != std::errc() || end != digits.data() + digits.size() || n < 0 || n >= count) return std::nullopt;
  return n;
}

TkelThreadParamsList& Customs(TkelPlugin& p) REQUIRES(p.CommandLock) {
  if (!p.ModuleParams) p.ModuleParams = std::make_unique<TkelThreadParamsList>();
  return *p.ModuleParams;
}

Variant ReadCustom(TkelPlugin& p, const CustomName& c) REQUIRES(p.CommandLock) {
  const TReadLocked<TkelThreadParamsList> locked(Customs(p));
  const TkelParamsList& list = locked.Items();
  Variant v;
  if (c.key == "COUNT") {
    v = Variant(list.Count());
  } else if (c.index) {
    TkelParamsListItem* item = list.Items(*c.index);
    v = item ? item->Value() : Variant::Null();
  } else {
    int32_t at = list.IndexOf(c.key);
    v = at >= 0 ? list.Items(at)->Value() : Variant::Null();
  }
  return v;
}

void WriteCustom(TkelPlugin& p, const CustomName& c, const Variant& value) REQUIRES(p.CommandLock) {
  const TWriteLocked<TkelThreadParamsList> locked(Customs(p));
  TkelParamsList& list = locked.Items();
  if (c.key == "COUNT") {
    list.Clear();
  } else if (c.index) {
    if (TkelParamsListItem* item = list.Items(*c.index)) item->SetValue(value);
  } else {
    list.SetValue(c.key, value, true);
  }
}

uint32_t EnabledMask(const TkelPlugin& p) {
  uint32_t mask = 0;
  for (size_t n = 0; n < p.TypeEnabled.size(); ++n)
    if (p.TypeEnabled[n]) mask |= ModuleTypeBit(n);
  return mask;
}

bool TestTranslation() {
  for (const auto& a : port::CommandLineArgs())
    if (a == "/TESTTRANSL") return true;
  return false;
}

}  // namespace

Variant GetModuleParameter(TkelPlugin& p, const std::string& name) {
  auto is = [&name](std::string_view n) { return SameTextAscii(name, n); };
  if (is("LogTitle")) return Variant(p.LogTitle);
  if (is("Description")) {
    ReadGuard texts(p.SettingsLock);
    return Variant(p.Description);
  }
  if (is("EventsSupported")) return Variant(p.EventsSupported);
  if (is("CustomCommands")) {
    ReadGuard texts(p.SettingsLock);
    return Variant(p.CustomCommandsText());
  }
  if (is("TranslatorComponentProperties"))
    return Variant(p.Translator ? p.Translator->ComponentProperties.Text() : std::string());
  if (is("ModuleType")) return Variant(static_cast<uint32_t>(p.ModuleType));
  if (is("ModuleEnabled")) return Variant(EnabledMask(p));
  if (is("ModuleDllHandle")) return Variant(p.ModuleDllHandle);
  if (is("ModuleLoadCount")) return Variant(p.ModuleLoadCount.load());
  if (is("ModuleIndex")) return Variant(static_cast<uint32_t>(p.ModuleIndex.load()));
  if (is("ModulePluginHandle")) return Variant(p.ModulePluginHandle);
  if (is("ModulePath")) return Variant(p.ModulePath);
  if (is("ModuleDataPath")) return Variant(GetModuleDataPath(p));
  if (is("AppDataPath")) return Variant(GetAppDataPath(p));
  if (is("ModuleName")) return Variant(p.ModuleName);
  if (is("ModuleLoadForConfig")) return Variant(static_cast<uint32_t>(p.ModuleLoadForConfig));
  if (is("ModuleConfigId")) return Variant(GetModuleConfigId(p));
  if (is("ApplicationFullName")) return Variant(p.ApplicationFullName);
  if (is("INIFile")) return Variant(p.INIFile);
  if (is("ModuleRegistryRoot1")) return Variant::FromUI1(p.ModuleRegistryRoot1);
  if (is("ModuleRegistryRoot2")) return Variant::FromUI1(p.ModuleRegistryRoot2);
  if (is("ModuleRegistryPath")) return Variant(p.ModuleRegistryPath.Get());
  if (is("INISectionPrefix")) return Variant(p.INISectionPrefix);
  if (is("DisplayFullVersion")) return Variant(p.DisplayFullVersion);
  if (is("ParserItems")) return Variant(p.GetParserItemsText());
  if (is("ParserItemsCount")) return Variant(p.ParserItemsCount());
  const int32_t count = p.ParserItemsCount();
  if (name.compare(0, 14, "ParserItemName") == 0) {
    auto i = ParserItemIndex(name, "ParserItemName", count);
    return i ? Variant(p.ParserItems[static_cast<size_t>(*i)].Name) : Variant();
  }
  if (name.compare(0, 14, "ParserItemDesc") == 0) {
    auto i = ParserItemIndex(name, "ParserItemDesc", count);
    return i ? Variant(p.ParserItems[static_cast<size_t>(*i)].Description) : Variant();
  }
  if (name.compare(0, 14, "ParserItemType") == 0) {
    auto i = ParserItemIndex(name, "ParserItemType", count);
    return i ? Variant::FromI1(static_cast<int8_t>(p.ParserItems[static_cast<size_t>(*i)].DataType)) : Variant();
  }
  if (is("DataSourceLoadFor")) {
    ReadGuard settings(p.SettingsLock);
    return Variant(p.DataSourceLoadFor);
  }
  if (is("TerminateNow")) return Variant(p.TerminateNow.load());
  if (is("IsTemporaryLoad")) return Variant(p.IsTemporaryLoad);
  if (is("ParentApp")) return HandleValue(p.ParentApp);
  if (is("OWNER-FORM")) return HandleValue(p.OwnerForm);
  if (auto c = ParseCustom(name)) return ReadCustom(p, *c);
  if (is("TESTTRANSL")) return Variant(TestTranslation());
  return Variant();
}

bool SetModuleParameter(TkelPlugin& p, const std::string& name, const Variant& value) {
  auto is = [&name](std::string_view n) { return SameTextAscii(name, n); };
  if (is("LogTitle")) {
    p.LogTitle = value.ToAnsi();
    return true;
  }
  // Texts that GetModuleInfo reads from any thread change under the write
  // side of SettingsLock.
  if (is("Description")) {
    WriteGuard g(p.SettingsLock);
    p.Description = value.ToAnsi();
    return true;
  }
  if (is("EventsSupported")) {
    p.EventsSupported = value.ToAnsi();
    return true;
  }
  if (is("CustomCommands")) {
    WriteGuard g(p.SettingsLock);
    p.CustomCommands.SetText(value.ToAnsi());
    return true;
  }
  if (is("ParserItems")) {
    p.SetParserItemsText(value.ToAnsi(), true);
    return true;
  }
  if (is("ModuleType")) {
    if (value.IsEmptyOrNull()) {
      p.ModuleType = 0;
      return true;
    }
    bool ok = true;
    int64_t bits = value.ToInt64(&ok);
    if (!ok) return false;
    p.ModuleType = static_cast<uint8_t>(bits & 0xFF);
    return true;
  }
  if (is("OWNER-FORM")) {
    p.OwnerForm = static_cast<uintptr_t>(value.ToInt64());
    return true;
  }
  if (is("SUBSCRIBE-FOR-DATA")) {
    p.SubscribeForData = value.ToBool();
    return true;
  }
  if (is("TranslatorComponentProperties")) {
    if (!p.Translator) return true;
    std::string text = value.ToAnsi();
    size_t at = 0;
    while (at <= text.size()) {
      size_t end = text.find_first_of(";|", at);
      if (end == std::string::npos) end = text.size();
      std::string part = Trim(std::string_view(text).substr(at, end - at));
      if (!part.empty()) p.Translator->ComponentProperties.Add(part);
      at = end + 1;
    }
    return true;
  }
  if (auto c = ParseCustom(name)) {
    WriteCustom(p, *c, value);
    return true;
  }
  return false;
}

}  // namespace kel
