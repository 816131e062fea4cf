// The module's message texts.  TCustomTextResources keeps references to its own
// text fields; a translator hands it to its custom handler (Tag 9997), which has
// it translate those texts.
#pragma once

#include <string>
#include <vector>

#include "platform/port.h"
#include "runtime/component/component.h"

namespace kel {

class TWtransl;

class TCustomTextResources : public TComponent {
 public:
  static constexpr int64_t kTag = 9997;

  explicit TCustomTextResources(TComponent* owner = nullptr);
  static const TClassInfo& StaticClass();
  const TClassInfo& ClassInfo() const override { return StaticClass(); }

  // Translates every non-empty text with the translator's current table, once
  // per language pair.  Always starts from the texts as first written, so a
  // later language change translates the originals, not a translation.
  void Translate(TWtransl& translator);
  bool Translated() const { return !translatedFor_.empty(); }
  // A copy of one of the text fields, safe while another thread translates.
  std::string Get(const std::string& field) const;

 protected:
  // Derived classes register their text fields in their constructor.
  void AddText(std::string* field) { texts_.push_back(field); }

 private:
  mutable port::CriticalSection lock_;  // the texts while they are replaced
  std::vector<std::string*> texts_;
  std::vector<std::string> originals_;
  std::string translatedFor_;  // the language pair of the last translation
};

class TTextResources : public TCustomTextResources {
 public:
  explicit TTextResources(TComponent* owner = nullptr);
  static const TClassInfo& StaticClass();
  const TClassInfo& ClassInfo() const override { return StaticClass(); }

  // Format patterns (printf-like).
  std::string TextInvalidCrc = "Invalid CRC (%.2x,%.2x)";
  std::string TextErrorResponse = "Error response [%s]";
  std::string TextConfigLoadError = "Error while loading configuration (%s)";
  std::string TextRequestTimeout = "Request timeout";
  // The device at an exactly named address answers for another instance:
  // the configured instance, then the address.
  std::string TextOtherInstance =
      "No device %s at %s: the device at that address has another instance (its basic properties are not read "
      "until the configuration is loaded again)";
  // A response item the configuration cannot poll, and why.
  std::string TextItemLeftOut = "Request item left out";
  std::string TextUnreadableType = "the module does not read this object type";
  std::string TextInstanceOutOfRange = "object instance outside 0..4194303";
  std::string TextNamelessItem = "the item has no name";
  // A device refused ReadPropertyMultiple: its instance, its address and the
  // answer.
  std::string TextNoReadMultiple =
      "Device %s at %s does not serve ReadPropertyMultiple [%s]: its items are read with ReadProperty until the "
      "configuration is loaded again";
  std::string TextDeviceTableFull = "Device table full (at most %s devices): further devices are not registered";
  // The line after a request time-out: what was tried and what is known
  // of the device and the data source; the parts are joined with "; ".
  std::string TextDiagTries = "%s tries, %s ms apart, no answer from device %s at %s";
  std::string TextDiagOneTry = "1 try, no answer from device %s at %s";  // a send the host gave up at once
  std::string TextDiagRoute = "via router, network %s, station %s";
  std::string TextDiagLastAnswer = "last answer %s ago";
  std::string TextDiagNeverHeard =
      "no answer since the configuration was loaded; the address may be wrong, or the device instance";
  std::string TextDiagIAmNamed = "an I-Am from this address named instance %s";
  std::string TextDiagLastError = "its last answer was an error, %s ago: %s";
  std::string TextDiagPathUp =
      "other devices on this data source answered in the last minute, so the network path is up: the device or its "
      "router is not answering";
  std::string TextDiagFramesArrived =
      "frames arrived on this data source %s ago, but no other device answered in the last minute";
  std::string TextDiagNothing =
      "nothing has answered on this data source for %s: check the logger's bind address, firewall, and that the "
      "devices are on this subnet or reachable through a broadcast manager";
  // A Who-Is that no I-Am answered (the endpoint).
  std::string TextNoIAm =
      "no device answered Who-Is at %s: the devices may be on another subnet (register as a foreign device with a "
      "broadcast manager), a firewall may drop the frames, or the broadcast address may be wrong";
  // Foreign-device registration with a broadcast manager (its endpoint, the
  // result code).
  std::string TextFdRefused = "Broadcast manager %s refused the foreign-device registration (result %s); next try in %s s";
  std::string TextFdSilent = "Broadcast manager %s did not answer the foreign-device registration; next try in %s s";
  std::string TextFdRegistered = "Registered as a foreign device with broadcast manager %s again";
  // A request logging on change is polled instead: the device (instance
  // and address), then why.
  std::string TextCovFallback = "No log on change with device %s at %s (%s): its requests are polled instead";
};

}  // namespace kel
