#include "runtime/text/text_resources.h"

#include "platform/port.h"
#include "runtime/text/translator.h"

namespace kel {

namespace {
const TClassInfo kCustomClass{"TCustomTextResources", &TComponent::StaticClass(), nullptr, 0};
}  // namespace

const TClassInfo& TCustomTextResources::StaticClass() { return kCustomClass; }

TCustomTextResources::TCustomTextResources(TComponent* owner) : TComponent(owner) { SetTag(kTag); }

void TCustomTextResources::Translate(TWtransl& translator) {
  const std::string pair = translator.LoadedPair();
  if (pair.empty() || pair == translatedFor_) return;
  if (originals_.size() != texts_.size()) {
    originals_.clear();
    for (const std::string* t : texts_) originals_.push_back(*t);
  }
  for (size_t i = 0; i < texts_.size(); ++i) {
    if (originals_[i].empty()) continue;
    std::string text = translator.TranslateAnsi(originals_[i], this, {});
    port::Guard g(lock_);
    texts_[i]->swap(text);
  }
  translatedFor_ = pair;
}

std::string TCustomTextResources::Get(const std::string& field) const {
  port::Guard g(lock_);
  return field;
}

const TClassInfo& TTextResources::StaticClass() {
  static const TPropInfo props[] = {
      TextProp<&TTextResources::TextInvalidCrc>("TextInvalidCrc"),
      TextProp<&TTextResources::TextErrorResponse>("TextErrorResponse"),
      TextProp<&TTextResources::TextConfigLoadError>("TextConfigLoadError"),
      TextProp<&TTextResources::TextRequestTimeout>("TextRequestTimeout"),
      TextProp<&TTextResources::TextOtherInstance>("TextOtherInstance"),
      TextProp<&TTextResources::TextItemLeftOut>("TextItemLeftOut"),
      TextProp<&TTextResources::TextUnreadableType>("TextUnreadableType"),
      TextProp<&TTextResources::TextInstanceOutOfRange>("TextInstanceOutOfRange"),
      TextProp<&TTextResources::TextNamelessItem>("TextNamelessItem"),
      TextProp<&TTextResources::TextDeviceTableFull>("TextDeviceTableFull"),
      TextProp<&TTextResources::TextDiagTries>("TextDiagTries"),
      TextProp<&TTextResources::TextDiagOneTry>("TextDiagOneTry"),
      TextProp<&TTextResources::TextDiagRoute>("TextDiagRoute"),
      TextProp<&TTextResources::TextDiagLastAnswer>("TextDiagLastAnswer"),
      TextProp<&TTextResources::TextDiagNeverHeard>("TextDiagNeverHeard"),
      TextProp<&TTextResources::TextDiagIAmNamed>("TextDiagIAmNamed"),
      TextProp<&TTextResources::TextDiagLastError>("TextDiagLastError"),
      TextProp<&TTextResources::TextDiagPathUp>("TextDiagPathUp"),
      TextProp<&TTextResources::TextDiagFramesArrived>("TextDiagFramesArrived"),
      TextProp<&TTextResources::TextDiagNothing>("TextDiagNothing"),
      TextProp<&TTextResources::TextNoIAm>("TextNoIAm"),
      TextProp<&TTextResources::TextFdRefused>("TextFdRefused"),
      TextProp<&TTextResources::TextFdSilent>("TextFdSilent"),
      TextProp<&TTextResources::TextFdRegistered>("TextFdRegistered"),
      TextProp<&TTextResources::TextNoReadMultiple>("TextNoReadMultiple"),
      TextProp<&TTextResources::TextCovFallback>("TextCovFallback"),
  };
  static const TClassInfo cls{"TTextResources", &TCustomTextResources::StaticClass(), props, std::size(props)};
  return cls;
}

TTextResources::TTextResources(TComponent* owner) : TCustomTextResources(owner) {
  AddText(&TextInvalidCrc);
  AddText(&TextErrorResponse);
  AddText(&TextConfigLoadError);
  AddText(&TextRequestTimeout);
  AddText(&TextOtherInstance);
  AddText(&TextItemLeftOut);
  AddText(&TextUnreadableType);
  AddText(&TextInstanceOutOfRange);
  AddText(&TextNamelessItem);
  AddText(&TextDeviceTableFull);
  AddText(&TextDiagTries);
  AddText(&TextDiagOneTry);
  AddText(&TextDiagRoute);
  AddText(&TextDiagLastAnswer);
  AddText(&TextDiagNeverHeard);
  AddText(&TextDiagIAmNamed);
  AddText(&TextDiagLastError);
  AddText(&TextDiagPathUp);
  AddText(&TextDiagFramesArrived);
  AddText(&TextDiagNothing);
  AddText(&TextNoIAm);
  AddText(&TextFdRefused);
  AddText(&TextFdSilent);
  AddText(&TextFdRegistered);
  AddText(&TextNoReadMultiple);
  AddText(&TextCovFallback);
}

}  // namespace kel
