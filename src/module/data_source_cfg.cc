#include "module/data_source_cfg.h"

namespace bacnet_module {

const kel::TClassInfo& TDataSourceCfg::StaticClass() {
  static const kel::TClassInfo info{"TDataSourceCfg", &kel::TProxyCodeObject::StaticClass(), nullptr, 0};
  return info;
}

const char* const kOptionsPersistenceMap[19] = {
    "Left,Left",
    "Top,Top",
    "Height,Height",
    "Width,Width",
    ";---short---",
    "lblParams.Caption,Parser config",
    "OpenDialog.FileName,Open files dir",
    "SaveDialog.FileName,Save files dir",
    "spMinInt.Value,Min interval",
    "chkReadDevProp.Checked,Read dev props",
    "chkFreshOnly.Checked,Fresh values only",
    "chkFastPace.Checked,Fast pace",
    "spInFlight.Value,Requests in flight",
    "spInFlightDev.Value,Requests in flight per device",
    "chkDiagnosis.Checked,Timeout diagnosis",
    "edtBbmd.Text,BBMD address",
    "spBbmdPort.Value,BBMD port",
    "spBbmdTtl.Value,BBMD TTL",
    "chkReadMultiple.Checked,Read multiple",
};

}  // namespace bacnet_module
