#include "runtime/settings/proxy_code_object.h"

namespace kel {

namespace {
const TPropInfo kProps[] = {
    IntProp<&TProxyCodeObject::Left>("Left"),
    IntProp<&TProxyCodeObject::Top>("Top"),
    IntProp<&TProxyCodeObject::Height>("Height"),
    IntProp<&TProxyCodeObject::Width>("Width"),
    TextProp<&TProxyCodeObject::lblParams_Caption>("lblParams_Caption"),
    TextProp<&TProxyCodeObject::OpenDialog_FileName>("OpenDialog_FileName"),
    TextProp<&TProxyCodeObject::SaveDialog_FileName>("SaveDialog_FileName"),
    FloatProp<&TProxyCodeObject::spMinInt_Value>("spMinInt_Value"),
    BoolProp<&TProxyCodeObject::chkReadDevProp_Checked>("chkReadDevProp_Checked"),
    BoolProp<&TProxyCodeObject::chkFreshOnly_Checked>("chkFreshOnly_Checked"),
    BoolProp<&TProxyCodeObject::chkFastPace_Checked>("chkFastPace_Checked"),
    FloatProp<&TProxyCodeObject::spInFlight_Value>("spInFlight_Value"),
    FloatProp<&TProxyCodeObject::spInFlightDev_Value>("spInFlightDev_Value"),
    BoolProp<&TProxyCodeObject::chkDiagnosis_Checked>("chkDiagnosis_Checked"),
    TextProp<&TProxyCodeObject::edtBbmd_Text>("edtBbmd_Text"),
    FloatProp<&TProxyCodeObject::spBbmdPort_Value>("spBbmdPort_Value"),
    FloatProp<&TProxyCodeObject::spBbmdTtl_Value>("spBbmdTtl_Value"),
    BoolProp<&TProxyCodeObject::chkReadMultiple_Checked>("chkReadMultiple_Checked"),
};
}  // namespace

const TClassInfo& TProxyCodeObject::StaticClass() {
  static const TClassInfo info{"TProxyCodeObject", &TProxyCodeCustomObject::StaticClass(), kProps,
                               std::size(kProps)};
  return info;
}

}  // namespace kel
