// The BACnet module's options form as the library carries it: the form
// stream read back, the script's tree definition and texts evaluated from
// its syntax tree against the form's captions, the compressed package split
// into its sections, and the exchange with a host end to end.
#include <gtest/gtest.h>

#include <tuple>

#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "form_stream.h"
#include "framework/exports_impl.h"
#include "framework/instance_registry.h"
#include "module/data_source_cfg.h"
#include "module/resources/module_resources.h"
#include "module/ta_plugin.h"
#include "options_package.h"
#include "params/params_list.h"
#include "platform/port.h"
#include "runtime/xml/xml_tree.h"

namespace {

// A packed record field, copied (no reference may bind to it).
template <class T>
T V(T v) {
  return v;
}

std::string Resource(const char* name) {
  std::string_view data;
  return port::FindRawResource(name, &data) ? std::string(data) : std::string();
}

class OptionsForm : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    kel::InitializeFramework();
    bacnet_module::RegisterModuleClass();
  }
  void SetUp() override {
    std::string error;
    ASSERT_TRUE(host::ReadFormStream(Resource("TFRMOPTION"), &form, &error)) << error;
  }

  // A component's caption as the form stores it.
  std::string Caption(const std::string& component) const {
    const host::FormObject* o = form.Find(component);
    if (!o) return "<no " + component + ">";
    const host::FormValue* v = o->Property("Caption");
    return v ? v->text : std::string();
  }

  static std::string ScriptXml() {
    std::string text, error;
    EXPECT_TRUE(host::Gunzip(Resource("FORM_DATA"), &text, &error)) << error;
    host::FormPackageText sections;
    EXPECT_TRUE(host::SplitFormPackageText(text, &sections, &error)) << error;
    return sections.script;
  }

  host::FormObject form;
};

int64_t Int(const host::FormObject* o, const char* property) {
  if (!o) return -999999;
  const host::FormValue* v = o->Property(property);
  return v && v->type == host::FormValue::Type::Int ? v->i : -999999;
}

std::string Word(const host::FormObject* o, const char* property) {
  if (!o) return "<no object>";
  const host::FormValue* v = o->Property(property);
  if (!v) return "<not stored>";
  if (v->type == host::FormValue::Type::Bool) return v->i ? "True" : "False";
  return v->text;
}

TEST_F(OptionsForm, TheFormStreamHoldsTheFormsDefaults) {
  EXPECT_EQ(form.name, "frmOption");
  EXPECT_EQ(form.className, "TfrmOption");
  EXPECT_EQ(Int(&form, "Left"), 326);
  EXPECT_EQ(Int(&form, "Top"), 144);
  EXPECT_EQ(Int(&form, "Width"), 481);
  EXPECT_EQ(Int(&form, "Height"), 435);
  EXPECT_EQ(Word(&form, "Caption"), "Bacnet/IP");
  ASSERT_NE(form.Property("BorderIcons"), nullptr);
  EXPECT_EQ(form.Property("BorderIcons")->names, (std::vector<std::string>{"biSystemMenu", "biMaximize", "biHelp"}));
  EXPECT_EQ(Int(&form, "BorderWidth"), 2);
  EXPECT_EQ(Int(&form, "Constraints.MinHeight"), 250);
  EXPECT_EQ(Int(&form, "Constraints.MinWidth"), 320);
  EXPECT_EQ(Word(&form, "Font.Name"), "MS Sans Serif");
  EXPECT_EQ(Int(&form, "Font.Height"), -11);
  EXPECT_EQ(Word(&form, "Font.Charset"), "DEFAULT_CHARSET");
  EXPECT_EQ(Word(&form, "Font.Color"), "clWindowText");
  EXPECT_EQ(Int(&form, "HelpContext"), 1);
  EXPECT_EQ(Word(&form, "KeyPreview"), "True");
  EXPECT_EQ(Word(&form, "Scaled"), "False");
  EXPECT_EQ(Int(&form, "PixelsPerInch"), 96);
  EXPECT_EQ(Int(&form, "TextHeight"), 13);
  EXPECT_EQ(Word(&form, "Color"), "clBtnFace");
  EXPECT_EQ(Word(&form, "OnCreate"), "FormCreate");
  EXPECT_EQ(Word(&form, "OnDestroy"), "FormDestroy");

  // Controls in creation order, every panel without bevel.
  std::vector<std::string> order;
  for (const auto& c : form.children) order.push_back(c.name + ":" + c.className);
  EXPECT_EQ(order, (std::vector<std::string>{"__pBot:TPanel", "pan2:TPanel", "pan1:TPanel", "pan3:TPanel",
                                             "pan0:TPanel", "pmStringItems:TTntPopupMenu"}));
  for (const char* panel : {"__pBot", "pan2", "pan1", "pan3", "pan0"}) EXPECT_EQ(Word(form.Find(panel), "BevelOuter"), "bvNone");
  const host::FormObject* bot = form.Find("__pBot");
  EXPECT_EQ(Word(bot, "Align"), "alBottom");
  EXPECT_EQ(Int(bot, "Height"), 45);
  EXPECT_EQ(Int(bot, "TabOrder"), 3);
  EXPECT_EQ(Word(bot, "Hint"), "OkCancel");
  EXPECT_EQ(Int(bot, "HelpContext"), 1);
  EXPECT_EQ(Int(form.Find("pan2"), "Height"), 29);
  EXPECT_EQ(Int(form.Find("pan1"), "BorderWidth"), 2);
  EXPECT_EQ(Word(form.Find("pan0"), "Align"), "alClient");
  EXPECT_EQ(Int(form.Find("pan0"), "Width"), 461);
  EXPECT_EQ(Int(form.Find("pan0"), "Height"), 244);

  const host::FormObject* params = form.Find("lblParams");
  EXPECT_EQ(params->className, "TTntLabel");
  EXPECT_EQ(Word(params, "Visible"), "False");
  EXPECT_EQ(Word(params, "Caption"), "");
  EXPECT_EQ(Word(form.Find("lblMinInt"), "Caption"), "Minimal interval between data packets (ms)");
  EXPECT_EQ(Word(form.Find("lblMinInt"), "AutoSize"), "False");
  EXPECT_EQ(Word(form.Find("lblMinInt"), "Layout"), "tlCenter");
  const host::FormObject* spin = form.Find("spMinInt");
  EXPECT_EQ(spin->className, "TJvSpinEdit");
  ASSERT_NE(spin->Property("MaxValue"), nullptr);
  EXPECT_EQ(spin->Property("MaxValue")->d, 65535.0);
  EXPECT_EQ(Int(spin, "Left"), 232);
  const host::FormObject* check = form.Find("chkReadDevProp");
  EXPECT_EQ(check->className, "TTntCheckBox");
  EXPECT_EQ(Word(check, "Caption"), "Read basic device properties");
  EXPECT_EQ(Word(check, "Checked"), "True");
  EXPECT_EQ(Word(check, "Align"), "alTop");
  EXPECT_EQ(Int(check, "Height"), 17);
  const host::FormObject* fresh = form.Find("chkFreshOnly");
  ASSERT_NE(fresh, nullptr);
  EXPECT_EQ(Word(fresh, "Caption"), "Deliver only fresh values");
  EXPECT_EQ(Word(fresh, "Checked"), "<not stored>") << "off by default";
  // The fast pace and ReadPropertyMultiple: off by default, the window's
  // defaults and bounds.
  EXPECT_EQ(Word(form.Find("chkFastPace"), "Checked"), "<not stored>");
  ASSERT_NE(form.Find("chkReadMultiple"), nullptr);
  EXPECT_EQ(Word(form.Find("chkReadMultiple"), "Caption"), "Read a device's items with ReadPropertyMultiple");
  EXPECT_EQ(Word(form.Find("chkReadMultiple"), "Checked"), "<not stored>");
  for (const auto& [spin, label, value] : {std::tuple{"spInFlight", "Requests in flight", 16.0},
                                           std::tuple{"spInFlightDev", "Requests in flight per device", 1.0}}) {
    const host::FormObject* s = form.Find(spin);
    ASSERT_NE(s, nullptr) << spin;
    ASSERT_NE(s->Property("Value"), nullptr) << spin;
    EXPECT_EQ(s->Property("Value")->d, value);
    EXPECT_EQ(s->Property("MinValue")->d, 1.0);
    EXPECT_EQ(s->Property("MaxValue")->d, 255.0);
    EXPECT_EQ(Word(form.Find(std::string(spin) == "spInFlight" ? "lblInFlight" : "lblInFlightDev"), "Caption"), label);
  }
  // The diagnosis is on by default; the broadcast manager's fields are empty,
  // port 47808 and time to live 0 (not registered).
  const host::FormObject* diagnosis = form.Find("chkDiagnosis");
  ASSERT_NE(diagnosis, nullptr);
  EXPECT_EQ(Word(diagnosis, "Caption"), "Explain every request time-out in a second line");
  EXPECT_EQ(Word(diagnosis, "Checked"), "True");
  EXPECT_EQ(Word(form.Find("lblBbmd"), "Caption"), "Broadcast manager (foreign device)");
  EXPECT_EQ(form.Find("edtBbmd")->className, "TTntEdit");
  ASSERT_NE(form.Find("spBbmdPort")->Property("Value"), nullptr);
  EXPECT_EQ(form.Find("spBbmdPort")->Property("Value")->d, 47808.0);
  EXPECT_EQ(form.Find("spBbmdTtl")->Property("Value"), nullptr) << "0 by default";
  EXPECT_EQ(Word(form.Find("lblBbmdTtl"), "Caption"), "TTL (s)");
}

TEST_F(OptionsForm, StringItemsCaptionsInOrder) {
  const host::FormObject* menu = form.Find("pmStringItems");
  ASSERT_NE(menu, nullptr);
  std::vector<std::pair<std::string, std::string>> items;
  for (const auto& item : menu->children) {
    EXPECT_EQ(item.className, "TTntMenuItem");
    items.emplace_back(item.name, Word(&item, "Caption"));
  }
  const std::vector<std::pair<std::string, std::string>> expected = {
      {"MsgSendReq", "Send requests, otherwise parse response only"},
      {"DataTypeList", ""},
      {"MsgEndpoint", "Endpoint"},
      {"MsgInstance", "Instance"},
      {"MsgReqTimeout", "Request timeout (ms)"},
      {"MsgReqMethod", "Request method"},
      {"MsgMOnce", "Once, on the program startup"},
      {"MsgPolling", "Polling"},
      {"MsgPollInt", "Interval"},
      {"MsgPollUnits", "Interval units"},
      {"MsgLogOnChange", "Log on change (subscribe; polled where the device cannot)"},
      {"MsgCovLifetime", "Subscription lifetime (s)"},
      {"MsgSafetyNet", "Safety-net poll interval (s; 0: ten intervals, at least 60)"},
      {"MsgName", "Export name"},
      {"TxtMillisecond", "Millisecond"},
      {"TxtSecond", "Second"},
      {"TxtMinute", "Minute"},
      {"TxtHour", "Hour"},
      {"MsgReq", "Request"},
      {"MsgResponseItems", "Response items"},
      {"MsgResponseItem", "Item"},
      {"MsgDataType", "Data type"},
      {"PollUnitList", ""},
  };
  EXPECT_EQ(items, expected);
  EXPECT_EQ(Int(form.Find("DataTypeList"), "Tag"), 9999);
  EXPECT_EQ(Int(form.Find("PollUnitList"), "Tag"), 9999);
}

// The stream printed back is the readable source it was made from.
TEST_F(OptionsForm, StreamPrintsBackAsItsSource) {
  std::string source;
  ASSERT_TRUE(port::ReadFile(BACNETIP_RESOURCE_DIR "/frm_option.dfm", &source));
  EXPECT_EQ(host::FormToText(form), source);
}

// ---- The script's syntax tree ---------------------------------------------------

// Evaluates the string expressions of the tree: literals, the program's
// constants, components' captions, LineEnding (as "\n") and "add".
class Evaluator {
 public:
  Evaluator(const kel::TzovXMLNode* program, std::map<std::string, std::string> captions)
      : captions_(std::move(captions)) {
    for (const auto* child : program->Children())
      if (child->Name == "const" && child->ChildCount() == 1) consts_[child->GetAttribute("name")] = Eval(child->Child(0));
  }

  std::string Eval(const kel::TzovXMLNode* e) {
    if (e->Name == "str") return e->GetAttribute("value");
    if (e->Name == "ident") {
      const std::string name = e->GetAttribute("name");
      if (name == "LineEnding") return "\n";
      auto c = consts_.find(name);
      if (c != consts_.end()) return c->second;
      ADD_FAILURE() << "no value for " << name;
      return "?";
    }
    if (e->Name == "member" && e->GetAttribute("name") == "Caption" && e->ChildCount() == 1 &&
        e->Child(0)->Name == "ident")
      return captions_[e->Child(0)->GetAttribute("name")];
    if (e->Name == "add") {
      std::string out;
      for (const auto* operand : e->Children()) out += Eval(operand);
      return out;
    }
    ADD_FAILURE() << "cannot evaluate <" << e->Name << ">";
    return "?";
  }

  const std::map<std::string, std::string>& Consts() const { return consts_; }

 private:
  std::map<std::string, std::string> consts_;
  std::map<std::string, std::string> captions_;
};

// The first element named name with attribute name=value, depth first.
const kel::TzovXMLNode* FindNamed(const kel::TzovXMLNode* from, const std::string& element, const std::string& name) {
  if (from->Name == element && from->GetAttribute("name") == name) return from;
  for (const auto* child : from->Children())
    if (const auto* found = FindNamed(child, element, name)) return found;
  return nullptr;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> out;
  size_t at = 0;
  for (;;) {
    size_t end = text.find('\n', at);
    out.push_back(text.substr(at, end == std::string::npos ? std::string::npos : end - at));
    if (end == std::string::npos) return out;
    at = end + 1;
  }
}

TEST_F(OptionsForm, TheTreeDefinitionIsTheFifteenLines) {
  kel::TzovXMLTree tree;
  tree.LoadFromText(ScriptXml());
  const kel::TzovXMLNode* program = tree.FindChild("program");
  ASSERT_NE(program, nullptr);
  std::map<std::string, std::string> captions;
  for (const auto& item : form.Find("pmStringItems")->children) captions[item.name] = Word(&item, "Caption");
  Evaluator eval(program, captions);
  EXPECT_EQ(eval.Consts().at("PARAM_OPTION_VALUE_SEP"), "==");
  EXPECT_EQ(eval.Consts().at("PARAM_OPTION_LIST_SEP"), "||");
  EXPECT_EQ(eval.Consts().at("RootNodeName"), "MODBUSRTUQUERY");
  const auto* var = FindNamed(program, "var", "propTree");
  ASSERT_NE(var, nullptr);
  EXPECT_EQ(var->GetAttribute("type"), "TVirtualParamTreeviewEx");
  for (const char* proc : {"FormCreate", "btnOKClick", "btnCancelClick", "FormDestroy"})
    EXPECT_NE(FindNamed(program, "procedure", proc), nullptr) << proc;

  const auto* create = FindNamed(program, "call", "CreateVirtualParamTreeview");
  ASSERT_NE(create, nullptr);
  ASSERT_EQ(create->ChildCount(), 4u);
  EXPECT_EQ(create->Child(1)->GetAttribute("name"), "pan0");
  EXPECT_EQ(eval.Eval(create->Child(2)), "propTree~Requests queue~RootNodeName,MODBUSRTUQUERY,Panel,OpenSave");
  const std::string definition = eval.Eval(create->Child(3));
  // Joined with LineEnding, no line end after the last, no other line break.
  const std::vector<std::string> expected = {
      "Request~@MsgReq~dtCategory,Editable",
      " Enabled~@MsgSendReq~dtCheckbox~~2",
      " EP~@MsgEndpoint~dtValidChars~0123456789.:,;~127.0.0.1:47808",
      " Instance~@MsgInstance~dtValidChars~0123456789*;,~1",
      " Timeout~@MsgReqTimeout~dtInteger~1,65535~1500",
      " LogOnChange~@MsgLogOnChange~dtCheckbox~~0",
      " CovLifetime~@MsgCovLifetime~dtInteger~10,86400~300",
      " SafetyNetPoll~@MsgSafetyNet~dtInteger~0,655350~0",
      " RequestMethod~@MsgReqMethod~dtCategory",
      "  MethodOnce~@MsgMOnce~dtCheckbox,RadioButton~~0",
      "  MethodPoll~@MsgPolling~dtCheckbox,RadioButton~~2",
      "   PollInterval~@MsgPollInt~dtInteger~1,655350~1000",
      "   PollUnits~@MsgPollUnits~dtComboDropDownValuesList~@PollUnitList~MS",
      " Response~@MsgResponseItems~dtCategory,Optional~F0F0F0,000000",
      "  Item~@MsgResponseItem~dtCategory,Editable,Repeatable~F0F0F0,000000",
      "   Name~@MsgName~dtUpperCase~~ITEM",
      "   DataType~@MsgDataType~dtComboDropDownValuesList~@DataTypeList~D00",
      "   Instance~@MsgInstance~dtInteger~-0,65535~0",
  };
  EXPECT_EQ(Lines(definition), expected);
  EXPECT_EQ(definition.find('\r'), std::string::npos);
  // Every caption reference names a string item of the form.
  for (const auto& line : expected) {
    const size_t at = line.find("~@") + 2;
    const std::string item = line.substr(at, line.find('~', at) - at);
    EXPECT_NE(form.Find("pmStringItems")->Find(item), nullptr) << item;
  }
}

TEST_F(OptionsForm, UnitListIsBuiltFromTheCaptions) {
  kel::TzovXMLTree tree;
  tree.LoadFromText(ScriptXml());
  const kel::TzovXMLNode* program = tree.FindChild("program");
  ASSERT_NE(program, nullptr);
  // The assignment whose target is PollUnitList.Caption.
  const kel::TzovXMLNode* value = nullptr;
  std::vector<const kel::TzovXMLNode*> stack{program};
  while (!stack.empty() && !value) {
    const auto* n = stack.back();
    stack.pop_back();
    if (n->Name == "assign" && n->ChildCount() == 2 && n->Child(0)->Name == "member" &&
        n->Child(0)->GetAttribute("name") == "Caption" && n->Child(0)->ChildCount() == 1 &&
        n->Child(0)->Child(0)->GetAttribute("name") == "PollUnitList")
      value = n->Child(1);
    for (const auto* c : n->Children()) stack.push_back(c);
  }
  ASSERT_NE(value, nullptr);
  std::map<std::string, std::string> captions;
  for (const auto& item : form.Find("pmStringItems")->children) captions[item.name] = Word(&item, "Caption");
  EXPECT_EQ(Evaluator(program, captions).Eval(value), "Millisecond==MS||Second==S||Minute==M||Hour==H");
  // A translation replaces the words, never the codes.
  captions["TxtSecond"] = "Sekunde";
  captions["TxtHour"] = "Stunde";
  EXPECT_EQ(Evaluator(program, captions).Eval(value), "Millisecond==MS||Sekunde==S||Minute==M||Stunde==H");
}

// ---- The package --------------------------------------------------------------

TEST_F(OptionsForm, PackageHasThreeSectionsAndTheMap) {
  const std::string gz = Resource("FORM_DATA");
  ASSERT_GT(gz.size(), 18u);
  // gzip, made reproducibly: no file name, no time stamp.
  EXPECT_EQ(static_cast<uint8_t>(gz[0]), 0x1F);
  EXPECT_EQ(static_cast<uint8_t>(gz[1]), 0x8B);
  EXPECT_EQ(gz[3] & 0x08, 0);
  EXPECT_EQ(gz.substr(4, 4), std::string(4, '\0'));
  std::string text, error;
  ASSERT_TRUE(host::Gunzip(gz, &text, &error)) << error;
  host::FormPackageText sections;
  ASSERT_TRUE(host::SplitFormPackageText(text, &sections, &error)) << error;
  EXPECT_EQ(sections.script.rfind("<?xml", 0), 0u);
  EXPECT_NE(sections.script.find("<program name=\"frmOption\">"), std::string::npos);
  EXPECT_EQ(sections.script.substr(sections.script.size() - 10), "</program>");
  EXPECT_EQ(sections.formName, "TFRMOPTION");
  EXPECT_NE(text.find("\r\n\r\n<=======>\r\n\r\nTFRMOPTION\r\n\r\n\r\n\r\n<=======>\r\n\r\nLeft,Left\r\n"),
            std::string::npos);
  // The map the module's own settings use, each line ended by CR LF.
  std::string map;
  for (const char* line : bacnet_module::kOptionsPersistenceMap) map += std::string(line) + "\r\n";
  EXPECT_EQ(sections.map, map);
  // No bare line feed anywhere: the script's lines end with CR LF too.
  for (size_t i = 0; i < text.size(); ++i)
    if (text[i] == '\n') {
      ASSERT_TRUE(i > 0 && text[i - 1] == '\r') << "bare LF at " << i;
    }
  EXPECT_EQ(Resource("FORM_NAME"), "TFRMOPTION");
}

// ---- The exchange with a host ------------------------------------------------------

TEST_F(OptionsForm, TheModuleDeliversItsFormAndReportsChanges) {
  kel::TkelParamsList params;
  TPluginCallRec rec{};
  rec.Size = KEL_CALLREC_SIZE;
  rec.Params = &params;
  ASSERT_EQ(kel::DoCreatePluginInstance(&rec), 0);
  const uint32_t h = rec.Instance;

  TPluginCallRec get{};
  get.Size = KEL_CALLREC_SIZE;
  get.Instance = h;
  kel::DoGetOptionsDialog(&get);
  const std::string formBytes = Resource("TFRMOPTION"), script = Resource("FORM_DATA");
  EXPECT_EQ(V(get.Output.Value), 3u);
  EXPECT_EQ(V(get.Output.Size), 24 + formBytes.size() + script.size());
  std::string buffer(V(get.Output.Size), '\0');
  get.Input.Size = V(get.Output.Size);
  get.Input.Value = reinterpret_cast<uintptr_t>(buffer.data());
  kel::DoGetOptionsDialog(&get);
  EXPECT_EQ(V(get.Output.Kind), KEL_KIND_COPIED);
  EXPECT_EQ(V(get.Output.Value), buffer.size());
  host::OptionsPackage package;
  std::string error;
  ASSERT_TRUE(host::SplitOptionsPackage(buffer, &package, &error)) << error;
  EXPECT_EQ(package.form, formBytes);
  EXPECT_EQ(package.extra, "");
  EXPECT_EQ(package.script, script);
  // The form is the one FORM_NAME names, in any case the host asks.
  std::string named(V(get.Output.Value), '\0');
  std::memcpy(named.data(), "tFrmOption", 10);
  get.Input.Value = reinterpret_cast<uintptr_t>(named.data());
  get.Input.Size = static_cast<uint32_t>(named.size());
  kel::DoGetOptionsDialog(&get);
  EXPECT_EQ(V(get.Output.Value), 24 + formBytes.size());  // a named form has no "_CODE" script here

  TPluginCallRec show{};
  show.Size = KEL_CALLREC_SIZE;
  show.Instance = h;
  kel::DoShowOptionsDialog(&show);
  EXPECT_EQ(V(show.Output.Value), 1u);  // the module always reports its options as changed
  kel::DoFreePluginInstance(&rec);
}

}  // namespace
