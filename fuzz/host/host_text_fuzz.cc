// Any bytes through the host's parsers and writers.  The first byte picks
// the piece; the checks hold for every input:
//   0 the kind-129 envelope: a frame it accepts lies inside the block;
//   1 an item list: the names it accepts come back unchanged from the
//     request XML through the module's XML reader;
//   2 an existing INI file: after the update the module's INI reader finds
//     the new values and every other value as before;
//   3 a command line (arguments split at NUL bytes);
//   4 a text as a JSON string: no raw control character is left;
//   5 a module log.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "cli_options.h"
#include "ini_settings.h"
#include "log_lines.h"
#include "record_writer.h"
#include "request_config.h"
#include "runtime/settings/ini_file.h"
#include "runtime/xml/xml_tree.h"
#include "send_envelope.h"

namespace {

void Check(bool ok) {
  if (!ok) __builtin_trap();
}

void Envelope(std::string_view in) {
  host::SendEnvelope env;
  std::string reason;
  if (!host::ParseSendEnvelope(in.data(), static_cast<int32_t>(in.size()), &env, &reason)) return;
  const auto* begin = reinterpret_cast<const uint8_t*>(in.data());
  Check(env.frameSize > 0 && env.port != 0 && env.frame > begin && env.frame + env.frameSize == begin + in.size());
}

void Items(std::string_view in) {
  host::PollSpec p = host::DefaultPoll();
  std::string reason;
  if (!host::ParseItemList(in, &p.items, &reason)) return;
  kel::TzovXMLTree tree;
  tree.LoadFromText(host::BuildRequestXml({p}));
  const kel::TzovXMLNode* root = tree.FindNode("MODBUSRTUQUERY");
  Check(root && root->ChildCount() == 1);
  const kel::TzovXMLNode* response = root->Child(0)->FindNode("Response");
  Check(response && response->ChildCount() == p.items.size());
  for (size_t i = 0; i < p.items.size(); ++i)
    Check(kel::XmlReadText(response->Child(i), "Name", "", true) == p.items[i].name);
}

// A name as the INI reader compares it: blanks around it dropped, ASCII
// letters lower-cased.
std::string Key(std::string_view s) {
  while (!s.empty() && static_cast<unsigned char>(s.front()) <= ' ') s.remove_prefix(1);
  while (!s.empty() && static_cast<unsigned char>(s.back()) <= ' ') s.remove_suffix(1);
  std::string out(s);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return out;
}

void Ini(std::string_view in) {
  const kel::TIniFile before(in);
  const kel::TIniFile after(
      host::UpdateIniText(in, host::kIniSection, {{host::kParserConfigKey, "%0D%0A<X>"}, {host::kReadDevPropsKey, "True"}}));
  Check(after.ReadString(host::kIniSection, host::kParserConfigKey, "") == "%0D%0A<X>");
  Check(after.ReadString(host::kIniSection, host::kReadDevPropsKey, "") == "True");
  for (const auto& section : before.SectionNames())
    for (const auto& key : before.SectionKeys(section)) {
      const bool ours = Key(section) == Key(host::kIniSection) &&
                        (Key(key) == Key(host::kParserConfigKey) || Key(key) == Key(host::kReadDevPropsKey));
      if (!ours) Check(after.ReadString(section, key, "\x01missing") == before.ReadString(section, key, ""));
    }
}

void CommandLine(std::string_view in) {
  std::vector<std::string> args;
  size_t at = 0;
  while (at <= in.size() && args.size() < 64) {
    size_t nul = in.find('\0', at);
    if (nul == std::string_view::npos) nul = in.size();
    args.emplace_back(in.substr(at, nul - at));
    at = nul + 1;
  }
  host::HostOptions o;
  std::string error;
  if (host::ParseCommandLine(args, &o, &error)) {
    host::BuildRequestXml(o.polls);
  } else {
    Check(!error.empty() && error.find('\n') == std::string::npos);
  }
}

void Json(std::string_view in) {
  const std::string s = host::JsonString(std::string(in));
  for (char c : s) Check(static_cast<unsigned char>(c) >= 0x20);
  host::CsvField(std::string(in));
}

void Log(std::string_view in) {
  host::LogCounters counts;
  for (const auto& line : host::SplitLog(in)) counts.Count(line);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const std::string_view in(reinterpret_cast<const char*>(data) + 1, size - 1);
  switch (data[0] % 6) {
    case 0: Envelope(in); break;
    case 1: Items(in); break;
    case 2: Ini(in); break;
    case 3: CommandLine(in); break;
    case 4: Json(in); break;
    default: Log(in); break;
  }
  return 0;
}
