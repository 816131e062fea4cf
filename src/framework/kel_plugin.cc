#include "framework/kel_plugin.h"

#include "framework/call_rec.h"
#include "framework/command_params.h"
#include "framework/module_config_list.h"
#include "framework/module_settings.h"
#include "params/params_ref.h"
#include "params/thread_params_list.h"

namespace kel {

namespace {
const TPropInfo kPluginProps[] = {
    TextProp<&TkelPlugin::MsgNoData>("MsgNoData"),
    TextProp<&TkelPlugin::MsgWriteComplete>("MsgWriteComplete"),
    TextProp<&TkelPlugin::MsgWriteCompleteError>("MsgWriteCompleteError"),
};
}  // namespace

const TClassInfo& TkelPlugin::StaticClass() {
  static const TClassInfo info{"TkelPlugin", &TComponent::StaticClass(), kPluginProps, std::size(kPluginProps)};
  return info;
}

TkelPlugin::TkelPlugin(TPluginCallRec* rec, uint32_t moduleHandle) {
  ModuleDllHandle = moduleHandle;
  ModuleLoadCount = 0;
  CommandDepth = 0;
  if (rec) {
    IsTemporaryLoad = rec->Params == nullptr;
    ParamsRef params = CallRecParams(rec);
    if (params) {
      Variant t = params.GetValue("TEMPORARY-LOAD");
      if (!IsAbsentValue(t)) IsTemporaryLoad = t.ToBool();
    }
  }
  Translated = false;
  Translator = std::make_unique<TWtransl>();
  ModulePluginHandle = 0;
  ModuleOptions = 0;
  ParserItems.clear();
  MsgProcHandle = 0;
  ParentApp = 0;
  TerminateNow = false;
  ModuleRegistryRoot1 = 2;
  ModuleRegistryRoot2 = 1;
  SettingsBusy = false;
  Log = std::make_unique<TLogDataList>(51200);
  std::string full = port::ModuleFileName();
  DisplayFullVersion = port::ModuleVersionText();
  ModuleVersion = 4.0f;
  MsgNoData = "No data for processing";
  MsgWriteComplete = "Data have been processed successfully";
  MsgWriteCompleteError = "Data have been processed with errors";
  ModuleInfoFlag = 1;
  size_t cut = full.find_last_of("/\\");
  ModuleName = cut == std::string::npos ? full : full.substr(cut + 1);
  ModulePath = cut == std::string::npos ? std::string() : full.substr(0, cut + 1);
  SetUpLanguage(*this);
  OwnerForm = 0;
}

void TkelPlugin::FinishCreation() { TranslateAfterCreation(*this); }

TkelPlugin::~TkelPlugin() {
  destroying_ = true;
  ItemsText.clear();
  ParserItems.clear();
  DataSources.clear();
  CustomCommands.Clear();
  Translator.reset();
  ModuleParams.reset();
  ModuleConfigs.reset();
  Log.reset();
}

}  // namespace kel
