#include "module/request_config.h"

#include <algorithm>
#include <limits>
#include <string>
#include <unordered_set>
#include <vector>

#include "module/data_source_cfg.h"
#include "module/request_list.h"
#include "module/serial_port_dm.h"
#include "module/ta_plugin.h"
#include "platform/port.h"
#include "runtime/errors.h"
#include "runtime/text/text_utils.h"
#include "runtime/xml/xml_tree.h"

namespace bacnet_module {

namespace {

using kel::TzovXMLNode;
using TLeftOutReport = std::function<void(const std::string& name, const std::string& type, TLeftOutReason why)>;

constexpr const char* kRootName = "MODBUSRTUQUERY";
constexpr int32_t kDefaultPollInterval = 1000;
constexpr int32_t kDefaultTimeout = 1500;
constexpr uint16_t kMaxObjectType = 19;
constexpr uint32_t kMaxObjectInstance = 0x3FFFFF;
// Log on change: the subscription's lifetime in seconds, and the least
// safety-net interval when the request names none.
constexpr int32_t kDefaultCovLifetime = 300;
constexpr int32_t kMinCovLifetime = 10;
constexpr int32_t kMaxCovLifetime = 86400;
constexpr int64_t kMinSafetyNetMs = 60000;

// The element itself when its name is name, else its first descendant of
// that name (depth first, document order).
const TzovXMLNode* Look(const TzovXMLNode* start, std::string_view name) {
  return kel::XmlFindValueNode(start, name, true);
}

// As Look, but never inside skip's subtree: a request's own values are not
// taken from its response items (an item's Instance is an object, not the
// request's device).
const TzovXMLNode* LookOutside(const TzovXMLNode* start, std::string_view name, const TzovXMLNode* skip) {
  if (kel::SameTextAscii(start->Name, name)) return start;
  std::vector<const TzovXMLNode*> stack;
  for (size_t i = start->ChildCount(); i-- > 0;) stack.push_back(start->Child(i));
  while (!stack.empty()) {
    const TzovXMLNode* n = stack.back();
    stack.pop_back();
    if (n == skip) continue;
    if (kel::SameTextAscii(n->Name, name)) return n;
    for (size_t i = n->ChildCount(); i-- > 0;) stack.push_back(n->Child(i));
  }
  return nullptr;
}

// Milliseconds for count units, held in 32 signed bits: larger products are
// limited to the largest value, negative intervals count as 0.
int32_t IntervalMs(int32_t count, std::string_view units) {
  int64_t factor = 1;
  if (units == "S") factor = 1000;
  else if (units == "M") factor = 60000;
  else if (units == "H") factor = 3600000;
  const int64_t ms = int64_t{count} * factor;
  if (ms < 0) return 0;
  if (ms > std::numeric_limits<int32_t>::max()) return std::numeric_limits<int32_t>::max();
  return static_cast<int32_t>(ms);
}

// The object type of a data-type code such as "D0D": the second and third
// characters as a hexadecimal number, 0 when they do not form one.
uint32_t DataTypeCode(std::string_view code) {
  const std::string_view digits = code.size() > 1 ? code.substr(1, 2) : std::string_view();
  if (digits.empty()) return 0;
  uint32_t v = 0;
  for (char c : digits) {
    uint32_t d;
    if (c >= '0' && c <= '9') d = static_cast<uint32_t>(c - '0');
    else if (c >= 'a' && c <= 'f') d = static_cast<uint32_t>(c - 'a' + 10);
    else if (c >= 'A' && c <= 'F') d = static_cast<uint32_t>(c - 'A' + 10);
    else return 0;
    v = v * 16 + d;
  }
  return v;
}

// The device instances of an "Instance" text: entries split at ";" and ",";
// a number is that device, anything else (also an empty entry between two
// separators) any device; 0 and repeated values are skipped; no entry at
// all gives device 1.
std::vector<uint32_t> DeviceInstances(std::string_view text) {
  std::vector<std::string_view> entries;
  size_t at = 0;
  while (true) {
    const size_t cut = text.find_first_of(";,", at);
    entries.push_back(text.substr(at, cut == std::string_view::npos ? std::string_view::npos : cut - at));
    if (cut == std::string_view::npos) break;
    at = cut + 1;
  }
  // Nothing before the first or after the last separator is an entry.
  if (!entries.empty() && kel::TrimView(entries.back()).empty()) entries.pop_back();
  if (!entries.empty() && kel::TrimView(entries.front()).empty()) entries.erase(entries.begin());
  std::vector<uint32_t> result;
  std::unordered_set<uint32_t> seen;
  for (std::string_view e : entries) {
    const auto v = static_cast<uint32_t>(kel::StrToIntDef(kel::TrimView(e), static_cast<int32_t>(bacnet::AnyInstance)));
    if (v == 0 || !seen.insert(v).second) continue;
    result.push_back(v);
  }
  if (entries.empty()) result.push_back(1);
  return result;
}

struct TResponseItem {
  std::string Name;
  std::string Key;  // the record item's key, made once for all the item's devices
  uint16_t ObjectType;
  uint32_t ObjectInstance;
};

// The kept response items of a request, in document order; the others go to
// report (when given) with the reason they are left out.
std::vector<TResponseItem> ResponseItems(const TzovXMLNode* request, const TLeftOutReport* report) {
  std::vector<TResponseItem> items;
  const TzovXMLNode* response = Look(request, "Response");
  if (!response) return items;
  for (const TzovXMLNode* item : response->Children()) {
    const TzovXMLNode* type = Look(item, "DataType");
    if (!type) continue;
    const std::string name = kel::XmlReadText(item, "Name", "ITEM", true);
    auto leftOut = [&](TLeftOutReason why) {
      if (report) (*report)(name, type->Text, why);
    };
    const uint32_t objectType = DataTypeCode(type->Text);
    if (objectType > kMaxObjectType) {
      leftOut(TLeftOutReason::UnreadableType);
      continue;
    }
    // An instance that no object can have would read another object
    // under this item's name: such an item is dropped.
    const int64_t instance = kel::XmlReadInteger(item, "Instance", 0, true);
    if (instance < 0 || instance > kMaxObjectInstance) {
      leftOut(TLeftOutReason::InstanceOutOfRange);
      continue;
    }
    // A value without a name cannot be told from the others in a record.
    if (name.empty()) {
      leftOut(TLeftOutReason::Nameless);
      continue;
    }
    items.push_back(TResponseItem{name, port::AnsiLower(name), static_cast<uint16_t>(objectType),
                                  static_cast<uint32_t>(instance)});
  }
  return items;
}

// The values a request gives every one of its items.
void ReadTemplate(const TzovXMLNode* request, int32_t position, TRequestItem& t) {
  t.Description = kel::XmlReadCaption(request, "Request", position);
  t.Enabled = kel::XmlReadBool(request, "Enabled", false, true);
  t.Connection.EndPoint = bacnet::ParseEndPoint(kel::XmlReadText(request, "EP", "", true));
  t.Poll = kel::XmlReadBool(request, "MethodPoll", false, true);
  t.PollInterval = IntervalMs(kel::XmlReadInteger(request, "PollInterval", kDefaultPollInterval, true),
                              kel::XmlReadText(request, "PollUnits", "", true));
  const int32_t timeout = kel::XmlReadInteger(request, "Timeout", kDefaultTimeout, true);
  t.Timeout = timeout < 0 ? 0 : timeout;
  t.LogOnChange = kel::XmlReadBool(request, "LogOnChange", false, true);
  if (!t.LogOnChange) return;
  // A subscribed item stays due for its renewals and safety-net reads, so
  // it is polled whatever the request method says.
  t.Poll = true;
  const int32_t lifetime = kel::XmlReadInteger(request, "CovLifetime", kDefaultCovLifetime, true);
  t.CovLifetime = static_cast<uint32_t>(lifetime < kMinCovLifetime   ? kMinCovLifetime
                                        : lifetime > kMaxCovLifetime ? kMaxCovLifetime
                                                                     : lifetime);
  // The safety net in seconds; none given (or 0): ten intervals, at least a
  // minute.
  const int64_t net = kel::XmlReadInteger(request, "SafetyNetPoll", 0, true);
  int64_t ms = net > 0 ? net * 1000 : std::max<int64_t>(int64_t{t.PollInterval} * 10, kMinSafetyNetMs);
  if (ms > std::numeric_limits<int32_t>::max()) ms = std::numeric_limits<int32_t>::max();
  t.SafetyNetMs = static_cast<int32_t>(ms);
}

}  // namespace

void ReadRequestConfig(std::string_view xml, const std::function<void(std::unique_ptr<TRequestItem>)>& add,
                       size_t limit) {
  kel::TzovXMLTree tree;
  tree.LoadFromText(xml);
  const TzovXMLNode* root = Look(&tree, kRootName);
  if (!root) return;
  uint32_t group = 0;
  size_t made = 0;
  int32_t position = 0;
  for (const TzovXMLNode* request : root->Children()) {
    ++position;
    TRequestItem t;
    ReadTemplate(request, position, t);
    const TzovXMLNode* instanceNode = LookOutside(request, "Instance", Look(request, "Response"));
    const std::vector<uint32_t> instances = DeviceInstances(instanceNode ? instanceNode->Text : std::string("1"));
    const std::vector<TResponseItem> items = ResponseItems(request, nullptr);
    if (items.empty()) continue;
    for (uint32_t instance : instances) {
      ++group;
      int32_t index = 0;
      for (const TResponseItem& r : items) {
        if (made >= limit) throw kel::EkelError("More than " + std::to_string(limit) + " request items");
        auto item = std::make_unique<TRequestItem>();
        item->Assign(t);
        item->Connection.Instance = instance;
        item->GroupId = group;
        item->GroupSize = static_cast<uint32_t>(items.size());
        item->IndexInGroup = ++index;
        item->Name = r.Name;
        item->Key = r.Key;
        item->ObjectInstance = r.ObjectInstance;
        item->ObjectType = r.ObjectType;
        add(std::move(item));
        ++made;
      }
    }
  }
}

void CheckRequestConfig(std::string_view xml,
                        const std::function<void(const std::string& description, const std::string& name,
                                                 const std::string& type, TLeftOutReason why)>& report) {
  kel::TzovXMLTree tree;
  tree.LoadFromText(xml);
  const TzovXMLNode* root = Look(&tree, kRootName);
  if (!root) return;
  int32_t position = 0;
  for (const TzovXMLNode* request : root->Children()) {
    const std::string description = kel::XmlReadCaption(request, "Request", ++position);
    const TLeftOutReport forRequest = [&](const std::string& name, const std::string& type, TLeftOutReason why) {
      report(description, name, type, why);
    };
    ResponseItems(request, &forRequest);
  }
}

int32_t OptionCount(double value, int32_t low, int32_t high, int32_t otherwise) {
  if (!(value == value)) return otherwise;  // not a number
  if (value <= low) return low;
  if (value >= high) return high;
  return static_cast<int32_t>(value + 0.5);
}

void BuildRequestList(TaPlugin& owner, TDataSourceCfg* cfg, TRequestList& list, TSerialPortDM* module) {
  if (module) module->PrepareRebuild();
  list.Reset();
  if (!cfg || (module && (owner.Unloaded || !(owner.TypeEnabled[kTypePolling] || owner.TypeEnabled[kTypeReceiving])))) {
    if (module) module->Foreign.Close();  // the data source closes
    return;
  }
  if (module) {
    module->ReadDeviceProperties = cfg->chkReadDevProp_Checked;
    module->FreshValuesOnly = cfg->chkFreshOnly_Checked;
    module->FastPace = cfg->chkFastPace_Checked;
    module->ReadMultiple = cfg->chkReadMultiple_Checked;
    module->InFlight = OptionCount(cfg->spInFlight_Value, 1, 255, 16);
    module->InFlightPerDevice = OptionCount(cfg->spInFlightDev_Value, 1, 255, 1);
    module->MinSendSpacingMs = OptionCount(cfg->spMinInt_Value, 0, 65535, 0);
    module->Diagnosis = cfg->chkDiagnosis_Checked;
    module->SetForeignManager(cfg->edtBbmd_Text, cfg->spBbmdPort_Value, cfg->spBbmdTtl_Value);
  }
  try {
    ReadRequestConfig(cfg->lblParams_Caption,
                      [&](std::unique_ptr<TRequestItem> item) { list.Append(item.release()); });
  } catch (...) {
    // The items made before the failure stay, ready to be polled.
    if (module) module->ResetRequests(false);
    throw;
  }
  if (module) module->ResetRequests(false);
}

}  // namespace bacnet_module
