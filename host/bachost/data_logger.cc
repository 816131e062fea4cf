#include "data_logger.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <set>
#include <vector>

#include "address_text.h"
#include "config_files.h"
#include "ini_settings.h"
#include "device_table.h"
#include "host_entry_points.h"
#include "host_session.h"
#include "log_lines.h"
#include "notify_channel.h"
#include "platform/port.h"
#include "plugin_library.h"
#include "record_writer.h"
#include "send_envelope.h"
#include "stop_signals.h"
#include "udp_socket.h"
#include "wait_set.h"

namespace host {

namespace {

// Data sources serve module types 0 (poll) and 1 (parse).
constexpr uint8_t kSourceCallTypes = (1u << 0) | (1u << 1);
constexpr int32_t kModuleIndex = 1;
constexpr size_t kMaxQueuedRecords = 10000;
constexpr int kMaxWaitMs = 1000;
constexpr int kDatagramsPerTurn = 64;

// The framework's standard items: not counted as values.
bool IsStandardItem(const std::string& name) {
  static const std::set<std::string> kStandard = {"FULL_DATA_PACKET", "DATA_PACKET",      "DATE_TIME_STAMP",
                                                  "DATA_SOURCE_ID",   "DATA_SOURCE_NAME", "DATA_SOURCE_FULL_NAME",
                                                  "CLIENTID"};
  return kStandard.count(name) != 0;
}

struct Source {
  SourceSpec spec;
  UdpSocket socket;
  bool failed = false;  // receiving failed: no longer waited for
};

// What the module's callbacks reach, from any thread.  Held by the sink
// through a shared pointer, so a callback under way keeps it alive.
struct SharedState {
  std::vector<std::unique_ptr<Source>> sources;  // fixed once the plug-in is loaded
  WakeupChannel wake;
  std::mutex queueLock;
  std::deque<Record> queued;  // kind-9 records for the loop
  std::atomic<uint64_t> framesSent{0};
  std::atomic<uint64_t> sendFailures{0};
  std::atomic<uint64_t> dropped{0};

  Source* Find(int32_t id) {
    for (auto& s : sources)
      if (s->spec.id == id) return s.get();
    return nullptr;
  }

  int32_t OnSendData(int32_t dataSourceId, int32_t kind, void* data, int32_t count) {
    if (kind == KEL_DATA_KIND_SEND) {
      SendEnvelope env;
      std::string reason;
      Source* s = Find(dataSourceId);
      int32_t r = -1;
      if (!s) r = -1;
      else if (!ParseSendEnvelope(data, count, &env, &reason)) r = -2;
      else r = s->socket.SendTo(env.address, env.port, env.frame, env.frameSize);
      if (r >= 0) ++framesSent;
      else ++sendFailures;
      return r;
    }
    if (kind == KEL_DATA_KIND_PARSED) {
      Record rec;
      rec.source = dataSourceId;
      rec.via = RecordVia::Kind9;
      std::vector<NamedValues> rows = SplitRows(ReadParsedRecord(static_cast<const TPluginCallRec*>(data)).items);
      {
        std::lock_guard<std::mutex> g(queueLock);
        for (auto& row : rows) {
          if (queued.size() >= kMaxQueuedRecords) {
            ++dropped;
            continue;
          }
          rec.items = std::move(row);
          queued.push_back(rec);
        }
      }
      wake.Set();
      return 0;
    }
    return -1;
  }
};

class LoggerRun {
 public:
  LoggerRun(const HostOptions& o, std::FILE* records, std::FILE* diag, std::function<uint64_t()> now,
            RunSummary* summary)
      : o_(o), records_(records), diag_(diag), now_(std::move(now)), summary_(*summary) {}

  int Run();

 private:
  void Say(const std::string& line) {
    if (o_.quiet) return;
    std::fprintf(diag_, "bachost: %s\n", line.c_str());
    std::fflush(diag_);
  }
  int Fail(int code, const std::string& line) {
    std::fprintf(diag_, "bachost: %s\n", OneLine(line).c_str());
    std::fflush(diag_);
    return code;
  }
  bool StoreSettings(const std::string& xml, int* code);
  bool OpenSources(int* code);
  void Loop();
  void DrainLog();
  void ReceiveOn(Source& s);
  void WriteQueued();
  void WriteRecord(const Record& r);
  // DEVICE-STATUS: its lines (--status), the table of a discovery and the
  // configuration it writes.
  void ReportDevices(int* code);
  bool LimitReached() const { return o_.records && summary_.records >= *o_.records; }

  const HostOptions& o_;
  std::FILE* records_;
  bool unflushed_ = false;  // records written since the last flush
  std::FILE* diag_;
  std::function<uint64_t()> now_;
  RunSummary& summary_;
  std::shared_ptr<SharedState> shared_ = std::make_shared<SharedState>();
  std::unique_ptr<RecordWriter> writer_;
  NotifyChannel notify_;
  StopSignals signals_;
  std::unique_ptr<HostSession> session_;
  LogCounters logCounts_;
  std::string ini_;
  // Removes the INI file of this run when it is the host's own.
  struct TemporaryFile {
    std::string path;
    ~TemporaryFile() {
      if (!path.empty()) port::RemoveFile(path);
    }
  } temporaryIni_;
  bool writeFailed_ = false;
  bool loopFailed_ = false;
  std::vector<uint8_t> buffer_ = std::vector<uint8_t>(UdpSocket::kMaxDatagram);
};

bool LoggerRun::StoreSettings(const std::string& xml, int* code) {
  std::string error;
  ini_ = o_.ini.empty() ? DefaultIniPath() : o_.ini;
  if (o_.ini.empty()) temporaryIni_.path = ini_;
  // The pace's options are written when given (a file that has them keeps
  // them otherwise); the diagnosis when turned off, the registration when
  // a broadcast manager is named (each also to set it back where the file
  // has it).
  std::vector<OptInValue> more;
  if (o_.fastPace) more.push_back({kFastPaceKey, *o_.fastPace ? "True" : "False", true});
  if (o_.inFlight) more.push_back({kInFlightKey, std::to_string(*o_.inFlight), true});
  if (o_.inFlightPerDevice) more.push_back({kInFlightPerDeviceKey, std::to_string(*o_.inFlightPerDevice), true});
  if (o_.readMultiple) more.push_back({kReadMultipleKey, *o_.readMultiple ? "True" : "False", true});
  more.push_back({kDiagnosisKey, o_.diagnosis ? "True" : "False", !o_.diagnosis});
  const bool bbmd = o_.ttlSeconds != 0 && !o_.bbmdAddress.empty();
  more.push_back({kBbmdAddressKey, PercentEncode(bbmd ? o_.bbmdAddress : std::string()), bbmd});
  more.push_back({kBbmdPortKey, std::to_string(o_.bbmdPort), bbmd});
  more.push_back({kBbmdTtlKey, std::to_string(bbmd ? o_.ttlSeconds : 0), bbmd});
  if (!StoreModuleSettings(ini_, xml, o_.deviceProperties, &error, o_.freshOnly, more)) {
    *code = Fail(2, error);
    return false;
  }
  return true;
}

bool LoggerRun::OpenSources(int* code) {
  for (const auto& spec : o_.sources) {
    auto s = std::make_unique<Source>();
    s->spec = spec;
    std::string error;
    if (!s->socket.Open(spec.bindAddress, spec.bindPort, &error)) {
      *code = Fail(2, "cannot bind " + EndpointText(spec.bindAddress, spec.bindPort) + ": " + error);
      return false;
    }
    shared_->sources.push_back(std::move(s));
  }
  return true;
}

void LoggerRun::DrainLog() {
  if (!session_) return;
  for (const LogLine& line : SplitLog(session_->DrainLog())) {
    logCounts_.Count(line);
    if (o_.quiet) continue;
    if (line.level < 0) std::fprintf(diag_, "log %s\n", line.text.c_str());
    else std::fprintf(diag_, "log[%d]%s %s\n", line.level, line.flagged ? "*" : "", line.text.c_str());
  }
  std::fflush(diag_);
}

void LoggerRun::WriteRecord(const Record& r) {
  if (!o_.discoverAddress.empty()) return;  // a discovery prints its table instead
  if (writeFailed_ || LimitReached()) {
    ++summary_.dropped;
    return;
  }
  const std::string text = writer_->Format(r);
  if (std::fwrite(text.data(), 1, text.size(), records_) != text.size()) {
    writeFailed_ = true;
    Fail(1, std::string("cannot write records: ") + std::strerror(errno));
    return;
  }
  unflushed_ = true;
  ++summary_.records;
  for (const auto& item : r.items)
    if (!IsStandardItem(item.first)) ++summary_.values;
}

void LoggerRun::WriteQueued() {
  std::deque<Record> batch;
  {
    std::lock_guard<std::mutex> g(shared_->queueLock);
    batch.swap(shared_->queued);
  }
  for (const auto& r : batch) WriteRecord(r);
  // The records of a turn leave together, before the loop waits again: one
  // write for many records, none kept back longer than the turn.
  if (unflushed_ && !writeFailed_) {
    unflushed_ = false;
    if (std::fflush(records_) != 0) {
      writeFailed_ = true;
      Fail(1, std::string("cannot write records: ") + std::strerror(errno));
    }
  }
}

void LoggerRun::ReceiveOn(Source& s) {
  for (int n = 0; n < kDatagramsPerTurn; ++n) {
    size_t size = 0;
    std::string peer;
    uint16_t peerPort = 0;
    const auto got = s.socket.Receive(buffer_.data(), &size, &peer, &peerPort);
    if (got == UdpSocket::Received::Failed) {
      Fail(0, "receiving on data source " + std::to_string(s.spec.id) + " failed: " + std::strerror(errno));
      s.failed = true;
    }
    if (got != UdpSocket::Received::Datagram) return;
    ++summary_.framesReceived;
    ParsedRecord delivered;
    session_->ProcessData(kSourceCallTypes, buffer_.data(), static_cast<uint32_t>(size), s.spec.id, nullptr,
                          &delivered, EndpointText(peer, peerPort));
    for (auto& row : SplitRows(delivered.items)) WriteRecord(Record{s.spec.id, RecordVia::Output, std::move(row)});
  }
}

void LoggerRun::Loop() {
  WaitSet waits;
  const size_t wakeAt = waits.Add(shared_->wake.Handle());
  const size_t notifyAt = waits.Add(notify_.Handle());
  const size_t firstSource = waits.Add(shared_->sources.front()->socket.Handle());
  for (size_t i = 1; i < shared_->sources.size(); ++i) waits.Add(shared_->sources[i]->socket.Handle());
  const uint64_t start = now_();
  const bool timed = o_.durationSeconds.has_value();
  const uint64_t end = timed ? start + static_cast<uint64_t>(*o_.durationSeconds * 1000.0) : 0;
  std::vector<bool> ready;
  while (!signals_.Requested() && !LimitReached() && !writeFailed_) {
    int wait = kMaxWaitMs;
    if (timed) {
      const uint64_t t = now_();
      if (t >= end) break;
      wait = static_cast<int>(std::min<uint64_t>(end - t, kMaxWaitMs));
    }
    if (!waits.Wait(wait, &ready)) {
      loopFailed_ = true;
      Fail(1, std::string("waiting failed: ") + std::strerror(errno));
      break;
    }
    if (ready[wakeAt]) shared_->wake.Clear();
    if (ready[notifyAt]) {
      bool logChanged = false;
      for (const auto& m : notify_.Take()) {
        logChanged |= m.message == KEL_MSG_LOG_CHANGED;
        summary_.logMessages += m.message == KEL_MSG_LOG_CHANGED;
        summary_.settingsChanged += m.message == KEL_MSG_SETTINGS_CHANGED;
      }
      if (logChanged) DrainLog();
    }
    for (size_t i = 0; i < shared_->sources.size(); ++i) {
      Source& s = *shared_->sources[i];
      if (!ready[firstSource + i] || s.failed) continue;
      ReceiveOn(s);
      if (s.failed) waits.Set(firstSource + i, kNoWaitHandle);
    }
    WriteQueued();
  }
}

void LoggerRun::ReportDevices(int* code) {
  const CommandResult r = session_->Command("DEVICE-STATUS", {{"RESULT", Text("")}}, kModuleIndex);
  const std::string text = r.result.vt == KEL_VT_BSTR ? Utf16To8(r.result.text) : std::string();
  if (o_.status) {
    size_t start = 0;
    while (start < text.size()) {
      size_t end = text.find("\r\n", start);
      if (end == std::string::npos) end = text.size();
      if (end > start) Say("status " + OneLine(text.substr(start, end - start)));
      start = end + 2;
    }
  }
  if (o_.discoverAddress.empty()) return;
  const std::vector<FoundDevice> devices = ParseDeviceStatus(text);
  const std::string table = DeviceTable(devices);
  std::fwrite(table.data(), 1, table.size(), records_);
  std::fflush(records_);
  Say("discovered " + std::to_string(devices.size()) + " device(s) at " +
      EndpointText(o_.discoverAddress, o_.discoverPort));
  if (o_.writeConfig.empty()) return;
  const std::string xml = DiscoveredConfigXml(devices);
  if (!port::WriteFileAtomic(o_.writeConfig, xml)) *code = Fail(1, "cannot write '" + o_.writeConfig + "'");
}

int LoggerRun::Run() {
  int code = 0;
  std::string xml, error;
  // Everything that can be wrong with the command line's files and
  // addresses is found before anything is written.
  if (!o_.configFile.empty()) {
    if (!ReadRequestConfigFile(o_.configFile, &xml, &error)) return Fail(2, error);
  } else {
    xml = BuildRequestXml(o_.polls);
  }
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> outFile(nullptr, std::fclose);
  if (!o_.outFile.empty()) {
    outFile.reset(std::fopen(o_.outFile.c_str(), "wb"));
    if (!outFile) return Fail(2, "cannot open '" + o_.outFile + "': " + std::strerror(errno));
    records_ = outFile.get();
  }
  writer_ = MakeRecordWriter(o_.format);
  if (!shared_->wake.Open() || !signals_.Install(&shared_->wake) || !notify_.Open(&error))
    return Fail(1, "cannot set up the event loop: " + std::string(std::strerror(errno)));
  if (!OpenSources(&code)) return code;
  if (!StoreSettings(xml, &code)) return code;

  const std::string plugin = o_.plugin.empty() ? DefaultPluginPath() : o_.plugin;
  PluginLibrary lib;
  if (!lib.Load(plugin, &error)) return Fail(1, "cannot load " + plugin + ": " + error);
  session_ = std::make_unique<HostSession>(lib.Exports());
  if (session_->Create() != 0) {
    session_.reset();
    return Fail(1, "CreatePluginInstance failed");
  }
  ModuleInfo info;
  if (session_->GetModuleInfo(&info)) {
    char version[32];
    std::snprintf(version, sizeof version, "%.1f", static_cast<double>(info.moduleVersion));
    Say("plug-in " + info.description + " " + version + " (" + plugin + ")");
  }
  SetSendDataSink([state = shared_](int32_t, int32_t dataSourceId, int32_t kind, void* data, int32_t count) {
    return state->OnSendData(dataSourceId, kind, data, count);
  });

  const auto self = reinterpret_cast<int64_t>(port::LoadedLib(""));
  auto load = session_->Command("LOAD", {{"APPLICATION-NAME", Text("bachost")},
                                         {"HANDLE", Int64(self)},
                                         {"MSG-PROC-HANDLE", Int64(notify_.ModuleTarget())},
                                         {"REGISTRY-PATH", Text("\\Software\\bachost\\Reference host")},
                                         {"INI-FILE", Text(ini_)},
                                         {"LANGUAGE", Text(o_.language)}},
                                kModuleIndex);
  bool loaded = load.code == 0;
  if (!loaded) code = Fail(1, "LOAD failed with " + std::to_string(load.code));
  if (loaded) {
    std::string sources;
    // Registered with a broadcast manager, the module names its endpoint in
    // the delete that ends the registration: the port really bound.
    for (const auto& s : shared_->sources)
      sources += std::to_string(s->spec.id) + ";" + s->spec.name + ";BACnet/IP " +
                 EndpointText(s->spec.bindAddress, o_.bbmdAddress.empty() ? s->spec.bindPort : s->socket.LocalPort()) +
                 "\r\n";
    auto state = session_->Command("SET-STATE", {{"DATA-SOURCES-IN-CFG", Text(sources)}, {"RESULT", Int(1)}},
                                   kModuleIndex, kSourceCallTypes);
    if (state.code != 0) {
      code = Fail(1, "SET-STATE failed with " + std::to_string(state.code));
    } else {
      for (const auto& s : shared_->sources)
        Say("source " + std::to_string(s->spec.id) + " " + s->spec.name + " bound to " +
            EndpointText(s->socket.LocalAddress(), s->socket.LocalPort()));
      Say("ready");
      DrainLog();
      Loop();
    }
  }

  if (loaded && (o_.status || !o_.discoverAddress.empty())) ReportDevices(&code);
  // Shutting down as a host does (UNLOAD also after a failed LOAD, which
  // may have counted).
  session_->Command("UNLOAD", {{"INI-FILE", Text(ini_)}}, kModuleIndex);
  DrainLog();
  session_->Free();
  session_.reset();
  // No module thread calls back once the instance is gone.
  SetSendDataSink(nullptr);
  WriteQueued();
  lib.Unload();
  for (auto& s : shared_->sources) s->socket.Close();

  summary_.framesSent = shared_->framesSent.load();
  summary_.sendFailures = shared_->sendFailures.load();
  summary_.dropped += shared_->dropped.load();
  summary_.timeouts = logCounts_.timeouts;
  summary_.errorAnswers = logCounts_.errorAnswers;
  Say(SummaryLine(summary_));
  if (writeFailed_ || loopFailed_) code = 1;
  return code;
}

}  // namespace

std::string SummaryLine(const RunSummary& s) {
  return "summary frames-sent=" + std::to_string(s.framesSent) + " frames-received=" + std::to_string(s.framesReceived) +
         " records=" + std::to_string(s.records) + " values=" + std::to_string(s.values) +
         " timeouts=" + std::to_string(s.timeouts) + " error-answers=" + std::to_string(s.errorAnswers) +
         " send-failures=" + std::to_string(s.sendFailures) + " dropped=" + std::to_string(s.dropped) +
         " log-messages=" + std::to_string(s.logMessages) + " settings-changed=" + std::to_string(s.settingsChanged);
}

std::string DefaultPluginPath() {
  std::string self = port::ModuleFileName();
  const char sep = port::PathSeparator();
  size_t cut = self.find_last_of(sep);
#if defined(_WIN32)
  const char* file = "bacnetip.dll";
#else
  const char* file = "bacnetip.so";
#endif
  return (cut == std::string::npos ? std::string(".") : self.substr(0, cut)) + sep + file;
}

int DataLogger::Run(std::FILE* records, std::FILE* diagnostics) {
  std::function<uint64_t()> clock = now;
  if (!clock)
    clock = [] {
      return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                       std::chrono::steady_clock::now().time_since_epoch())
                                       .count());
    };
  summary_ = RunSummary();
  LoggerRun run(o_, records, diagnostics, clock, &summary_);
  return run.Run();
}

}  // namespace host
