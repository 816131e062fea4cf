// The application services of the simulated devices: Who-Is and the
// confirmed requests (ReadProperty, ReadPropertyMultiple; every other
// service is rejected), with the answering faults the knobs ask for.
#include <algorithm>

#include "names.h"
#include "property_read.h"
#include "read_multiple.h"
#include "responder.h"

namespace bacsim {

namespace {

constexpr uint32_t kWildcardInstance = 4194303;
constexpr uint8_t kNoReject = kNoRejectReason;

size_t MaxApduOf(uint8_t code) {
  static const size_t sizes[] = {50, 128, 206, 480, 1024, 1476};
  return code < 6 ? sizes[code] : kMaxApdu;
}

// The arguments of a ReadProperty request, or the reason to reject it.
struct ReadPropertyArgs {
  ObjectId oid;
  uint64_t property = 0, index = 0;
  bool hasIndex = false;
  uint8_t reject = kNoReject;
};

ReadPropertyArgs ParseReadProperty(const uint8_t* data, size_t size) {
  ReadPropertyArgs a;
  Reader r(data, size);
  if (!r.ReadContextObjectId(0, a.oid)) {
    a.reject = r.AtEnd() ? reject::kMissingRequiredParameter : reject::kInvalidTag;
  } else if (!r.ReadContextUnsigned(1, a.property)) {
    a.reject = r.AtEnd() ? reject::kMissingRequiredParameter : reject::kInvalidTag;
  } else if (r.NextIsContext(2)) {
    a.hasIndex = true;
    if (!r.ReadContextUnsigned(2, a.index)) a.reject = reject::kInvalidTag;
  }
  if (a.reject == kNoReject && !r.AtEnd()) a.reject = reject::kTooManyArguments;
  if (a.reject == kNoReject && (a.property > kWildcardInstance || a.index > 0xFFFFFFFFu)) {
    a.reject = reject::kParameterOutOfRange;
  }
  return a;
}

Bytes ErrorApdu(uint8_t invoke, uint8_t choice, uint8_t cls, uint8_t code) {
  Bytes apdu = {0x50, invoke, choice};
  EncodeValue(apdu, Value::Enumerated(cls));
  EncodeValue(apdu, Value::Enumerated(code));
  return apdu;
}

Bytes ReadPropertyAck(uint8_t invoke, const ObjectId& oid, const ReadPropertyArgs& a, const ReadResult& result) {
  Bytes apdu = {0x30, invoke, service::kReadProperty};
  EncodeContextObjectId(apdu, 0, oid);
  EncodeContextUnsigned(apdu, 1, a.property);
  if (a.hasIndex) EncodeContextUnsigned(apdu, 2, a.index);
  EncodeOpening(apdu, 3);
  for (const Value& v : result.values) EncodeValue(apdu, v);
  EncodeClosing(apdu, 3);
  return apdu;
}

}  // namespace

void Responder::WhoIs(const std::vector<size_t>& devices, const Request& rq, std::vector<Outgoing>& out,
                      std::vector<std::string>& log) {
  Reader r(rq.apdu + 2, rq.apduSize - 2);
  bool ranged = false;
  uint64_t lo = 0, hi = kWildcardInstance;
  if (!r.AtEnd()) {
    if (!r.ReadContextUnsigned(0, lo) || !r.ReadContextUnsigned(1, hi) || !r.AtEnd() || lo > kWildcardInstance ||
        hi > kWildcardInstance) {
      return Ignored(*rq.in, "bad-who-is", log);
    }
    ranged = true;
  }
  std::vector<size_t> matched;
  for (size_t d : devices) {
    const uint32_t inst = building_.devices[d].instance;
    if (inst >= lo && inst <= hi) matched.push_back(d);
  }
  const SocketSpec& s = sockets_[rq.in->socket];
  log.push_back("whois " + s.endpoint.ToString() + " from=" + rq.sender.ToString() + " range=" +
                (ranged ? std::to_string(lo) + "-" + std::to_string(hi) : std::string("any")) +
                " matched=" + std::to_string(matched.size()));
  for (size_t k = 0; k < matched.size(); ++k) {
    const SimDevice& d = building_.devices[matched[k]];
    Bytes apdu = {0x10, service::kIAm};
    EncodeValue(apdu, Value::Oid(obj::kDevice, d.instance));
    EncodeValue(apdu, Value::Unsigned(d.knobs.maxApdu));
    EncodeValue(apdu, Value::Enumerated(3));  // no-segmentation
    EncodeValue(apdu, Value::Unsigned(d.vendorId));
    Outgoing o = Reply(matched[k], rq, apdu, options_.iamBroadcast || d.knobs.iamBroadcast);
    if (options_.iamSpreadMs && matched.size() > 1) {
      o.delayMs += static_cast<uint32_t>(uint64_t{options_.iamSpreadMs} * k / matched.size());
    }
    log.push_back("iam " + DeviceLabel(d) + " dev=" + std::to_string(d.instance) + " to=" + o.to.ToString());
    const bool broadcast = options_.iamBroadcast || d.knobs.iamBroadcast;
    out.push_back(std::move(o));
    if (broadcast) ForwardToForeignDevices(out.back(), matched[k], out);
  }
}

// One confirmed request to one device: its answers and log lines.
class Responder::ConfirmedAnswer {
 public:
  ConfirmedAnswer(Responder& r, size_t device, const Request& rq, std::vector<Outgoing>& out,
                  std::vector<std::string>& log)
      : r_(r), device_(device), rq_(rq), out_(out), log_(log), d_(r.building_.devices[device]) {}

  void Run(double seconds);

 private:
  void Send(const Bytes& apdu, const std::string& outcome) {
    out_.push_back(r_.Reply(device_, rq_, apdu));
    log_.push_back(what_ + " -> " + outcome + tail_);
  }
  void Abort(uint8_t reason) { Send({0x71, invoke_, reason}, std::string("abort ") + AbortReasonName(reason)); }
  void Reject(uint8_t reason) { Send({0x60, invoke_, reason}, std::string("reject ") + RejectReasonName(reason)); }
  void Error(uint8_t cls, uint8_t code) {
    Send(ErrorApdu(invoke_, choice_, cls, code), std::string("error ") + ErrorClassName(cls) + " " + ErrorCodeName(code));
  }
  // The request's place in the device's count: true when a knob drops it
  // or answers it with its Error.
  bool FaultKnobs();
  // What the device reads for the request, and the object it answers for.
  ReadResult Read(const ReadPropertyArgs& a, double seconds, ObjectId& answered) const;
  // Sends the answer, or the Abort of an answer longer than the device sends.
  void Answer(const Bytes& apdu, const std::string& outcome);
  void ReadMultiple(const std::vector<ReadAccessSpec>& specs, double seconds);

  Responder& r_;
  size_t device_;
  const Request& rq_;
  std::vector<Outgoing>& out_;
  std::vector<std::string>& log_;
  const SimDevice& d_;
  uint8_t invoke_ = 0;
  uint8_t choice_ = 0;
  size_t maxApdu_ = 0;  // the longest answer the request and the device allow
  std::string what_;  // the request as the log names it
  std::string tail_;  // " id=N from=..."
};

void Responder::Confirmed(size_t device, const Request& rq, double seconds, std::vector<Outgoing>& out,
                          std::vector<std::string>& log) {
  ConfirmedAnswer(*this, device, rq, out, log).Run(seconds);
}

void Responder::ConfirmedAnswer::Run(double seconds) {
  const uint8_t* a = rq_.apdu;
  const size_t n = rq_.apduSize;
  if (n < 4) return r_.Ignored(*rq_.in, "short-confirmed-request", log_);
  const bool segmented = (a[0] & 0x08) != 0;
  invoke_ = a[2];
  maxApdu_ = std::min({MaxApduOf(a[1] & 0x0F), kMaxApdu, size_t{d_.knobs.maxApdu}});
  tail_ = " id=" + std::to_string(invoke_) + " from=" + rq_.sender.ToString();
  const std::string who = DeviceLabel(d_) + " dev=" + std::to_string(d_.instance);
  if (segmented) {
    // No segmentation here: a segmented request is refused as a whole.
    if (n < 6) return r_.Ignored(*rq_.in, "short-confirmed-request", log_);
    what_ = "svc " + who + " service=" + std::to_string(a[5]);
    return Abort(abort_reason::kSegmentationNotSupported);
  }
  choice_ = a[3];
  what_ = "svc " + who + " service=" + std::to_string(choice_);

  // A request longer than the device takes does not reach its services.
  if (n > d_.knobs.maxApdu) return Abort(abort_reason::kBufferOverflow);

  if (choice_ == service::kSubscribeCov) {
    if (FaultKnobs()) return;
    std::string outcome;
    const Bytes apdu = r_.SubscribeCov(device_, rq_, seconds, outcome);
    what_ = "subscribe-cov " + who;
    return Send(apdu, outcome);
  }
  // The arguments, read first so that the log line can name them.
  ReadPropertyArgs args;
  std::vector<ReadAccessSpec> specs;
  if (choice_ == service::kReadPropertyMultiple && d_.knobs.readMultiple) {
    args.reject = ParseReadPropertyMultiple(a + 4, n - 4, specs);
    if (args.reject == kNoReject) {
      size_t properties = 0;
      for (const ReadAccessSpec& spec : specs) properties += spec.properties.size();
      what_ = "rpm " + who + " objects=" + std::to_string(specs.size()) + " properties=" + std::to_string(properties);
    }
  } else if (choice_ == service::kReadProperty) {
    args = ParseReadProperty(a + 4, n - 4);
    if (args.reject == kNoReject) {
      what_ = "rp " + who + " " + ObjectTypeShort(args.oid.type) + ":" + std::to_string(args.oid.instance) + " " +
              PropertyName(static_cast<uint32_t>(args.property)) +
              (args.hasIndex ? "[" + std::to_string(args.index) + "]" : "");
    }
  } else {
    args.reject = reject::kUnrecognizedService;
  }
  if (FaultKnobs()) return;
  if (args.reject != kNoReject) return Reject(args.reject);
  if (!specs.empty()) return ReadMultiple(specs, seconds);

  ObjectId answered = args.oid;
  const ReadResult result = Read(args, seconds, answered);
  if (result.error) return Error(result.errorClass, result.errorCode);
  const Bytes apdu = ReadPropertyAck(invoke_, answered, args, result);
  Answer(apdu, result.values.size() == 1 ? Describe(result.values[0]) : "list " + std::to_string(result.values.size()));
}

void Responder::ConfirmedAnswer::Answer(const Bytes& apdu, const std::string& outcome) {
  if (apdu.size() > maxApdu_ || (d_.knobs.abortLongerThan && apdu.size() > d_.knobs.abortLongerThan))
    return Abort(abort_reason::kSegmentationNotSupported);
  Send(apdu, outcome);
}

void Responder::ConfirmedAnswer::ReadMultiple(const std::vector<ReadAccessSpec>& specs, double seconds) {
  // Every property is read as ReadProperty reads it; one that fails is a
  // property error in the ACK.
  const ReadOne read = [&](const ObjectId& oid, const PropertyRef& ref, ObjectId& answered) {
    ReadPropertyArgs args;
    args.oid = oid;
    args.property = ref.property;
    args.hasIndex = ref.hasIndex;
    args.index = ref.index;
    return Read(args, seconds, answered);
  };
  size_t errors = 0;
  const Bytes apdu = ReadPropertyMultipleAck(invoke_, specs, read, errors);
  Answer(apdu, "ack len=" + std::to_string(apdu.size()) + " errors=" + std::to_string(errors));
}

bool Responder::ConfirmedAnswer::FaultKnobs() {
  if (d_.knobs.maxConcurrent) {
    // Requests whose answer has left are no longer in service.
    std::vector<double>& busy = r_.inService_[device_];
    const double now = rq_.in->arrived;
    busy.erase(std::remove_if(busy.begin(), busy.end(), [now](double leaves) { return leaves <= now; }), busy.end());
    if (busy.size() >= d_.knobs.maxConcurrent) {
      if (d_.knobs.busyDrop) {
        log_.push_back(what_ + " -> drop busy" + tail_);
      } else {
        Abort(abort_reason::kOutOfResources);
      }
      return true;
    }
    busy.push_back(now + d_.knobs.delayMs / 1000.0);
  }
  const uint64_t count = ++r_.requests_[device_];
  if (d_.knobs.dropEvery && count % d_.knobs.dropEvery == 0) {
    log_.push_back(what_ + " -> drop" + tail_);
    return true;
  }
  if (d_.knobs.errorEvery && count % d_.knobs.errorEvery == 0) {
    Error(d_.knobs.errorClass, d_.knobs.errorCode);
    return true;
  }
  return false;
}

ReadResult Responder::ConfirmedAnswer::Read(const ReadPropertyArgs& a, double seconds, ObjectId& answered) const {
  ReadResult result;
  const auto property = static_cast<uint32_t>(a.property);
  // A device answers for its own Device object only, unless it stands for
  // several (a gateway).
  if (a.oid.type == obj::kDevice &&
      (a.oid.instance == d_.instance || a.oid.instance == kWildcardInstance || d_.knobs.anyInstance)) {
    if (a.oid.instance == kWildcardInstance) answered.instance = d_.instance;
    ReadDeviceProperty(d_, property, a.hasIndex, a.index, result);
    return result;
  }
  auto o = std::find_if(d_.objects.begin(), d_.objects.end(),
                        [&](const SimObject& x) { return x.type == a.oid.type && x.instance == a.oid.instance; });
  if (o == d_.objects.end()) {
    result.Fail(errclass::kObject, errcode::kUnknownObject);
  } else {
    ReadObjectProperty(*o, property, a.hasIndex, seconds, result);
  }
  return result;
}

}  // namespace bacsim
