#include "property_read.h"

#include "names.h"

namespace bacsim {

void ReadDeviceProperty(const SimDevice& d, uint32_t property, bool hasIndex, uint64_t index, ReadResult& r) {
  if (property == prop::kObjectList) {
    const uint64_t count = d.objects.size() + 1;
    auto oid = [&](uint64_t i) {
      return i == 0 ? Value::Oid(obj::kDevice, d.instance) : Value::Oid(d.objects[i - 1].type, d.objects[i - 1].instance);
    };
    if (!hasIndex) {
      for (uint64_t i = 0; i < count; ++i) r.values.push_back(oid(i));
    } else if (index == 0) {
      r.values.push_back(Value::Unsigned(count));
    } else if (index <= count) {
      r.values.push_back(oid(index - 1));
    } else {
      r.Fail(errclass::kProperty, errcode::kInvalidArrayIndex);
    }
    return;
  }
  Value v;
  switch (property) {
    case prop::kObjectIdentifier: v = Value::Oid(obj::kDevice, d.instance); break;
    case prop::kObjectName: v = Value::CharString(d.name); break;
    case prop::kObjectType: v = Value::Enumerated(obj::kDevice); break;
    case prop::kSystemStatus: v = Value::Enumerated(0); break;  // operational
    case prop::kVendorName: v = Value::CharString(d.vendor); break;
    case prop::kVendorIdentifier: v = Value::Unsigned(d.vendorId); break;
    case prop::kModelName: v = Value::CharString(d.model); break;
    case prop::kFirmwareRevision: v = Value::CharString(d.firmware); break;
    case prop::kAppSoftwareVersion: v = Value::CharString(d.appVersion); break;
    case prop::kDescription:
      if (!d.knobs.optionalProperties) return r.Fail(errclass::kProperty, errcode::kUnknownProperty);
      v = Value::CharString(d.description);
      break;
    case prop::kProtocolVersion: v = Value::Unsigned(1); break;
    case prop::kProtocolRevision: v = Value::Unsigned(14); break;
    case prop::kMaxApduLengthAccepted: v = Value::Unsigned(d.knobs.maxApdu); break;
    case prop::kSegmentationSupported: v = Value::Enumerated(3); break;  // no-segmentation
    default: return r.Fail(errclass::kProperty, errcode::kUnknownProperty);
  }
  if (hasIndex) return r.Fail(errclass::kProperty, errcode::kPropertyIsNotAnArray);
  r.values.push_back(std::move(v));
}

void ReadObjectProperty(const SimObject& o, uint32_t property, bool hasIndex, double seconds, ReadResult& r) {
  const bool analog = o.type <= obj::kAnalogValue;
  const bool multi = o.type == obj::kMultiStateInput || o.type == obj::kMultiStateOutput || o.type == obj::kMultiStateValue;
  const bool nc = o.type == obj::kNotificationClass;
  Value v;
  switch (property) {
    case prop::kObjectIdentifier: v = Value::Oid(o.type, o.instance); break;
    case prop::kObjectName: v = Value::CharString(o.name); break;
    case prop::kObjectType: v = Value::Enumerated(o.type); break;
    case prop::kPresentValue:
      // A notification class has no present value.
      if (nc) return r.Fail(errclass::kProperty, errcode::kUnknownProperty);
      v = PresentValue(o, seconds);
      break;
    case prop::kStatusFlags:
      if (nc) return r.Fail(errclass::kProperty, errcode::kUnknownProperty);
      v = Value::BitString({false, false, false, false});
      break;
    case prop::kEventState:
      if (nc) return r.Fail(errclass::kProperty, errcode::kUnknownProperty);
      v = Value::Enumerated(0);  // normal
      break;
    case prop::kOutOfService:
      if (nc) return r.Fail(errclass::kProperty, errcode::kUnknownProperty);
      v = Value::Bool(false);
      break;
    case prop::kUnits:
      if (!analog) return r.Fail(errclass::kProperty, errcode::kUnknownProperty);
      v = Value::Enumerated(o.units);
      break;
    case prop::kNumberOfStates:
      if (!multi) return r.Fail(errclass::kProperty, errcode::kUnknownProperty);
      v = Value::Unsigned(o.states);
      break;
    case prop::kNotificationClass:
      if (!nc) return r.Fail(errclass::kProperty, errcode::kUnknownProperty);
      v = Value::Unsigned(o.instance);
      break;
    case prop::kDescription:
      if (o.description.empty()) return r.Fail(errclass::kProperty, errcode::kUnknownProperty);
      v = Value::CharString(o.description);
      break;
    default: return r.Fail(errclass::kProperty, errcode::kUnknownProperty);
  }
  if (hasIndex) return r.Fail(errclass::kProperty, errcode::kPropertyIsNotAnArray);
  r.values.push_back(std::move(v));
}

}  // namespace bacsim
