// The substitute object whose published properties carry the options form's
// values, so that the form's persistence map works without the form.
#pragma once

#include <string>

#include "runtime/settings/wreg.h"

namespace kel {

class TProxyCodeObject : public TProxyCodeCustomObject {
 public:
  explicit TProxyCodeObject(TComponent* owner = nullptr) : TProxyCodeCustomObject(owner) {}
  static const TClassInfo& StaticClass();
  const TClassInfo& ClassInfo() const override { return StaticClass(); }

  int32_t Left = 326;
  int32_t Top = 144;
  int32_t Height = 435;
  int32_t Width = 481;
  std::string lblParams_Caption;
  std::string OpenDialog_FileName;
  std::string SaveDialog_FileName;
  double spMinInt_Value = 0;
  bool chkReadDevProp_Checked = true;
  bool chkFreshOnly_Checked = false;  // records carry only values answered in their own cycle
  // The fast pace: many requests in flight, the next sent as soon as a slot
  // frees, instead of one request per tick.
  bool chkFastPace_Checked = false;
  double spInFlight_Value = 16;      // requests in flight per data source, 1..255
  double spInFlightDev_Value = 1;    // of them to one device, 1..255
  bool chkDiagnosis_Checked = true;   // a line explaining every request time-out
  // Registration as a foreign device with a broadcast manager (time to
  // live 0: not registered).
  std::string edtBbmd_Text;
  double spBbmdPort_Value = 47808;
  double spBbmdTtl_Value = 0;
  // A group's items read with ReadPropertyMultiple instead of one
  // ReadProperty each.
  bool chkReadMultiple_Checked = false;
};

}  // namespace kel
