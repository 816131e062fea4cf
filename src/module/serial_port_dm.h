// The communication module of one host data source: its request list, the
// tick that sends the requests, the handling of the answers, discovery and
// the BACnet stack that builds and decodes the frames.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "bacnet/bacnet_stack.h"
#include "framework/parsed_data_list.h"
#include "module/device_status.h"
#include "module/discovery.h"
#include "module/foreign_device.h"
#include "module/request_list.h"
#include "runtime/component/component.h"
#include "runtime/thread_object.h"
#include "runtime/timing/kel_timeout.h"
#include "runtime/timing/timer_ex.h"

namespace bacnet_module {

class TaPlugin;

// A subscriber process identifier not yet given to a data source.
uint32_t NextCovProcessId();

// Result codes of SendRequest besides the invoke identifier (0..255).
constexpr int32_t kSendDiscovering = -100;
constexpr int32_t kSendDeviceProperty = -101;
constexpr int32_t kSendTimedOut = -102;
// -1..-99: the frame was not sent (the stack's code, or the host's answer).
constexpr bool IsSendFailure(int32_t code) { return code >= -99 && code <= -1; }

constexpr uint32_t kTickIntervalMs = 50;
constexpr uint32_t kSendFailurePauseMs = 5000;
constexpr uint32_t kPortOpenPauseMs = 15000;
constexpr int32_t kMaxRetries = 2;
constexpr uint8_t kBasicPropertyAttempts = 3;

class TSerialPortDM : public kel::TComponent {
 public:
  // Made on the thread whose timer ticks it (the one delivering the state
  // change).
  explicit TSerialPortDM(TaPlugin* owner);
  ~TSerialPortDM() override;
  static const kel::TClassInfo& StaticClass();
  const kel::TClassInfo& ClassInfo() const override { return StaticClass(); }

  // Frees the module from any thread.  From inside its own tick the module
  // is freed when the tick returns.
  static void Free(TSerialPortDM* module);

  // ---- Scheduler ---------------------------------------------------------
  // The timer runs while the owner polls (module type 0) and the list has
  // items.  A running pause is kept.
  void UpdateTimer();
  // Every request idle and due at once, discoveries forgotten; with pause,
  // nothing is sent for the next 15000 ms.
  void ResetRequests(bool withPause);
  // One tick: picks the due request and sends it, resends, gives up.
  void TimerTick();
  // Sends one frame for item; the invoke identifier or a negative code.
  // Caller holds the request list's write lock.
  int32_t SendRequest(TRequestItem& item) REQUIRES(RequestList);
  // The stack's send handler: the frame to the host, after "<<TO:addr:port>>".
  int32_t SendFrame(bacnet::TBACnetStack& stack, bacnet::TBacBytes frame, const bacnet::TDeviceConnInfo& conn,
                    int32_t length) EXCLUDES(Stack.Data.Devices, DiscoveryList);
  // Before the list is built again: timer off, discoveries and devices
  // forgotten, no request in flight.
  void PrepareRebuild();

  // ---- Answers -----------------------------------------------------------
  // Processes one queued frame; the number of values added to list.
  int32_t ProcessResponse(kel::TParsedDataList& list);
  // Adds the record of a group to list; with toHost, sends it to the host
  // and clears list.  The number of values added.
  int32_t DeliverGroup(uint32_t groupId, kel::TParsedDataList& list, bool toHost) EXCLUDES(Stack.Data.Devices);

  // ---- Discovery ---------------------------------------------------------
  // kDiscoveryNotNeeded, kDiscoverySent or kDiscoveryRecent.
  int32_t StartDiscovery(const TRequestItem& item);
  // The one device instance that every enabled pattern item of a broadcast
  // endpoint names, else AnyInstance: a Who-Is for one device costs one
  // I-Am, not one from every device on the network.  Caller holds the
  // request list's lock.
  uint32_t WantedInstance(const bacnet::TIpEndPoint& endPoint);
  // The stack's handler for a device an I-Am added: copies of the matching
  // pattern items for it, one group of its own per pattern group.
  void DeviceFound(bacnet::TBACnetStack& stack, const bacnet::TDeviceConnInfo& conn);

  TRequestList RequestList;
  TaPlugin* Owner;
  kel::TkelTimerEx* Timer;  // owned component
  TRequestItem* Current GUARDED_BY(RequestList) = nullptr;
  int32_t DataSourceId = 0;
  std::string DataSourceName;
  std::string DataSourceFullName;
  bacnet::TBACnetStack Stack;
  kel::TkelTimeout Pause GUARDED_BY(RequestList);
  TDiscoveryList DiscoveryList{true};
  std::atomic<bool> ResetRequested{false};
  kel::TParsedDataList GroupResults GUARDED_BY(RequestList);
  std::atomic<bool> ReadDeviceProperties{false};
  // A record carries only the values answered since the group's last record.
  std::atomic<bool> FreshValuesOnly{false};
  // The fast pace (off: one request out at a time, sent on the tick): up to
  // InFlight requests out, at most InFlightPerDevice of them to one device,
  // and, when MinSendSpacingMs is above 0, at least that long between two
  // sends.  Taken up by the next tick or answer.
  std::atomic<bool> FastPace{false};
  std::atomic<int32_t> InFlight{16};
  std::atomic<int32_t> InFlightPerDevice{1};
  std::atomic<int32_t> MinSendSpacingMs{0};
  // A group's items read with ReadPropertyMultiple, as few requests as the
  // device's maximum APDU allows (off: one ReadProperty per item).
  std::atomic<bool> ReadMultiple{false};
  // Every time-out warning is followed by a line that explains it.
  std::atomic<bool> Diagnosis{true};
  // What is known of the devices asked and of the data source.
  TDeviceStatusTable Status;
  // The registration as a foreign device (off unless the options name a
  // broadcast manager and a time to live).
  TForeignRegistration Foreign;
  // The options' broadcast manager, port and time to live (0: off).
  void SetForeignManager(const std::string& address, double port, double ttlSeconds);

  // The line that follows the time-out warning of item: what was tried,
  // and what the module knows of its device and of the data source.
  // Caller holds the request list's lock.
  std::string DiagnosisText(const TRequestItem& item);
  // The "DEVICE-STATUS" lines of this data source's devices, each ended
  // with CR LF.
  std::string DeviceStatusText();
  // The subscriber process identifier of this data source's subscriptions.
  const uint32_t CovProcessId;

  // ---- Log on change (cov.cc; under the request list's write lock) -------
  // The notification's value taken by the subscribed item it is for, and
  // the group's record sent (or owed until the least interval between two
  // records has passed); anything else is dropped.
  void TakeNotification(const bacnet::TCovNotification& notification);
  // Sends the records owed whose interval has passed.
  void FlushOwedRecords() REQUIRES(RequestList);
  // Cancels every subscription held or asked for (the answers are not
  // awaited); the items want a subscription again.
  void CancelSubscriptions();

 private:
  // Re-arms the timer (UpdateTimer) when the scope ends, unless the module
  // is to be freed after its tick.  Never raises.
  class TRearm {
   public:
    explicit TRearm(TSerialPortDM& m) : m_(m) {}
    ~TRearm() {
      if (m_.freeAfterTick_) return;
      try {
        m_.UpdateTimer();
      } catch (...) {
      }
    }
    TRearm(const TRearm&) = delete;
    TRearm& operator=(const TRearm&) = delete;

   private:
    TSerialPortDM& m_;
  };

  // An Error, Reject or Abort to a basic property read of item: the slot is
  // given up, or, when the device has no Device object of the configured
  // instance, all of them with a warning; the item's own read follows.
  void EndDeviceProperty(TRequestItem& item, const bacnet::TProperty& answer) REQUIRES(RequestList);
  // The time-out warning for item, and the diagnosis line after it.
  void LogTimeout(const TRequestItem& item);
  // An I-Am of conn's device: remembered for the diagnosis, and the
  // discoveries it answers are answered.
  void NoteIAm(const bacnet::TDeviceConnInfo& conn);
  // The line logged once per endpoint when a Who-Is got no I-Am.
  void LogNoIAm(const bacnet::TIpEndPoint& endPoint);
  // The warnings of a failed registration and the notice of a recovery.
  void LogRegistration(const std::string& manager, int32_t kind, uint32_t retrySeconds);
  // The warning that the device table is full and refuses new devices.
  void LogTableFull();
  // ---- The tick at the designed pace (under the request list's write lock)
  // What serving the request in hand came to.  Sent, Awaited and NotSent
  // keep it in hand for the next tick; the others go on to the next due
  // item after it.
  enum class TTickOutcome {
    Sent,         // sent or sent again; its answer is awaited
    Awaited,      // out, its time-out not yet over
    NotSent,      // the send failed (after a failure of the host, with a pause)
    GaveUp,       // out, its last try unanswered: given up
    Discovering,  // its device is being looked for first
    NotDue,       // idle and not yet due
  };
  static constexpr bool KeepsInHand(TTickOutcome o) {
    return o == TTickOutcome::Sent || o == TTickOutcome::Awaited || o == TTickOutcome::NotSent;
  }
  void RunTick();
  // Whether inHand_ is one of the list's first count items.
  bool HoldsRequest(int32_t count) const REQUIRES_SHARED(RequestList);
  // The request the tick takes up: the one in hand while it is out or has
  // not been sent, else the next due item after it (the ones before it and
  // itself last), or -1.
  int32_t ChooseInHand(const TRequestList::List& items) REQUIRES(RequestList);
  // Resends item after its time-out, gives it up after its last try, or
  // sends it when it is due.
  TTickOutcome ServeInHand(TRequestItem& item) REQUIRES(RequestList);
  // What a send with code came to.
  TTickOutcome AfterSend(TRequestItem& item, int32_t code) REQUIRES(RequestList);
  // The first due item of from..to-1 (to < 0: to the end); -1 when none.
  int32_t SearchDue(const TRequestList::List& items, int32_t from, int32_t to = -1) REQUIRES_SHARED(RequestList);
  // The index of the request in hand at the designed pace, -1 for none.  It
  // outlives a rebuild of the list: HoldsRequest tells whether it is still
  // an item.
  int32_t inHand_ GUARDED_BY(RequestList) = -1;

  // ---- The fast pace (everything under the request list's write lock) ----
  // The fields below and those marked GUARDED_BY(RequestList) above are the
  // request list's: the tick and the answers change them under its write side.
  enum class TServed { Sent, Discovering, GaveUp, Failed };
  // Takes up a change of the pace: the requests out under the other one are
  // forgotten and due again.
  void SyncPace() REQUIRES(RequestList);
  // The window emptied: its requests idle and due at once.
  void LeaveAllInFlight() REQUIRES(RequestList);
  void LeaveInFlight(const TRequestItem* item) REQUIRES(RequestList);
  // The request out that a reply with this invoke identifier and source
  // answers (any of its tries), or null.
  TRequestItem* MatchInFlight(uint8_t invokeId, const bacnet::TReplySource& source) const REQUIRES(RequestList);
  // Whether item must wait: its device has its most requests out, or it
  // closes a group whose other items of the round are out or still to send.
  bool SlotBlocked(const TRequestList::List& items, const TRequestItem& item, bool wide, uint64_t now) const
      REQUIRES(RequestList);
  // The next item to send, fairly (every due item once a round), or -1.
  // Begins the next round only when roundBegun is false, and sets it.
  int32_t ChooseCandidate(const TRequestList::List& items, bool& roundBegun) REQUIRES(RequestList);
  // Sends item (a first send or a resend of a request out).
  TServed Serve(TRequestItem& item) REQUIRES(RequestList);
  // Whether the least spacing between two sends holds the next one back.
  bool SpacingHolds() REQUIRES(RequestList);
  // Sends due requests while the window has room.
  void FillWindow(TRequestList::List& items) REQUIRES(RequestList);
  // The tick at the fast pace: resends and give-ups, then the window filled.
  void RunFastTick(TRequestList::List& items) REQUIRES(RequestList);
  // The answer in item stored (the designed and the fast pace alike); the
  // number of values of the record it closes, added to list.
  int32_t TakeAnswer(TRequestItem& item, int32_t code, const bacnet::TProperty& holder, kel::TParsedDataList& list)
      REQUIRES(RequestList);

  // ---- ReadPropertyMultiple (read_multiple.cc; under the request list's
  // write lock) ----
  // Whether item's next read goes out as a ReadPropertyMultiple.
  bool ReadsMultiple(const TRequestItem& item) const { return ReadMultiple && !item.ReadSingle; }
  // The items item's last request carried, itself included (1 for a
  // ReadProperty).
  static int32_t Carried(const TRequestItem& item) { return item.RpmLast > 1 ? item.RpmLast : 1; }
  // Sends one request for item and the group's items after it that are
  // free to join, as many as fit conn's device; the invoke identifier or
  // the stack's negative code.
  int32_t SendMultiple(TRequestItem& item, const bacnet::TDeviceConnInfo& conn);
  // The request out of item ends (answered or given up): the items riding
  // on it are no longer out.  Whether it carried the group's last item.
  bool EndRequest(TRequestItem& item);
  // The items riding on item's request are let go, due again at once.
  void DropCarried(TRequestItem& item);
  // The stack's hand-over of a ReadPropertyMultiple-ACK: its results kept
  // for the request rpmFor_ (set by the caller of ProcessReceived).
  void KeepMultipleAck(const bacnet::TRpmAck& ack) REQUIRES(RequestList);
  // The answer to a ReadPropertyMultiple of item (TakeAnswer's part).
  int32_t TakeMultipleAnswer(TRequestItem& item, int32_t code, const bacnet::TProperty& holder,
                             kel::TParsedDataList& list) REQUIRES(RequestList);
  // The device of item refused ReadPropertyMultiple: said once, and every
  // item of the device is read with ReadProperty from now on.
  void FallBackToSingle(const TRequestItem& item, const bacnet::TProperty& answer);
  // The list position of item (its group's start and its index), -1 when
  // it is not where its group says.
  int32_t PositionOf(const TRequestList::List& items, const TRequestItem& item) const REQUIRES_SHARED(RequestList);
  const TRequestItem* rpmFor_ GUARDED_BY(RequestList) = nullptr;
  bool rpmAckSound_ GUARDED_BY(RequestList) = false;
  std::vector<bacnet::TRpmResult> rpmResults_ GUARDED_BY(RequestList);
  std::vector<bacnet::TRpmItem> rpmObjects_ GUARDED_BY(RequestList);
  std::vector<uint8_t> rpmUsed_ GUARDED_BY(RequestList);
  // ---- Log on change (cov.cc) --------------------------------------------
  struct TCovGroup {
    bool FellBack = false;  // polled instead: a subscription was refused or not answered
    bool Owed = false;      // a notification waits for the interval to pass
    kel::TkelTimeout LastRecord;
  };
  // The SubscribeCOV (or its cancel) item needs now, if any: the stack's
  // invoke identifier or negative code in code, and true; false when the
  // item's own read is to be sent.
  bool SendSubscription(TRequestItem& item, const bacnet::TDeviceConnInfo& conn, int32_t& code)
      REQUIRES(RequestList);
  // The answer to a subscription; the values added to a record (none).
  int32_t TakeCovAnswer(TRequestItem& item, int32_t code, const bacnet::TProperty& holder) REQUIRES(RequestList);
  // The subscription of item was not answered after its last try.
  void CovGaveUp(TRequestItem& item) REQUIRES(RequestList);
  // The group of failed is polled instead, with one log line per device.
  void CovFallBack(TRequestItem& failed, const std::string& reason) REQUIRES(RequestList);
  // The next safety-net read or renewal of a subscribed item, whichever
  // comes first.
  static void ArmSafetyNet(TRequestItem& item);
  // The group's record to the host now, or owed when the last one is too
  // recent.
  void CovRecord(uint32_t groupId) REQUIRES(RequestList);
  // After the list was made or the data source opened: subscriptions held
  // are renewed with their next send, the others wanted again.
  void ResetCov(TRequestList::List& items) REQUIRES(RequestList);
  std::unordered_map<uint32_t, TCovGroup> covGroups_ GUARDED_BY(RequestList);
  std::unordered_set<std::string> covLogged_ GUARDED_BY(RequestList);  // the devices whose fallback is logged
  bool covOwed_ GUARDED_BY(RequestList) = false;

  // The idle tick: the earliest time an idle item falls due (on the 64-bit
  // clock), worked out by the scan that found nothing to send; until then a
  // tick with no request out returns at once.  0: not known.
  uint64_t nextDue_ GUARDED_BY(RequestList) = 0;
  // Whether nothing can be due before nextDue_ (and forgets it once the time
  // has come).
  bool IdleUntilDue() REQUIRES(RequestList);
  // The earliest time an enabled idle item that is sent again falls due
  // (0: one is due now; UINT64_MAX: none).
  static uint64_t EarliestDue(const TRequestList::List& items);

  bool fastActive_ GUARDED_BY(RequestList) = false;
  std::vector<TRequestItem*> inFlight_ GUARDED_BY(RequestList);
  uint32_t round_ GUARDED_BY(RequestList) = 1;
  int32_t cursor_ GUARDED_BY(RequestList) = 0;
  kel::TkelTimeout lastSend_ GUARDED_BY(RequestList);

  std::atomic<uint32_t> tickThread_{0};  // the thread inside TimerTick, 0 when none
  std::atomic<bool> freeAfterTick_{false};
};

}  // namespace bacnet_module
