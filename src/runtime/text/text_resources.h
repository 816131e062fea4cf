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
  std::string TextDeviceTableFull = "Device table full (at most %s devices): further devices are not registered";
};

}  // namespace kel
