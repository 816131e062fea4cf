#include "runtime/component/component.h"

#include <gtest/gtest.h>

namespace kel {
namespace {

class TOptions : public TComponent {
 public:
  using TComponent::TComponent;
  static const TClassInfo& StaticClass() {
    static const char* const kModes[] = {"mOnce", "mPoll"};
    static const TPropInfo props[] = {
        TextProp<&TOptions::Caption>("Caption"),   IntProp<&TOptions::Left>("Left"),
        BoolProp<&TOptions::Checked>("Checked"),   FloatProp<&TOptions::Interval>("Interval"),
        StringsProp<&TOptions::Lines>("Lines"),    RefProp<&TOptions::Peer>("Peer"),
        EnumProp<&TOptions::Mode>("Mode", kModes),
    };
    static const TClassInfo cls{"TOptions", &TComponent::StaticClass(), props, std::size(props)};
    return cls;
  }
  const TClassInfo& ClassInfo() const override { return StaticClass(); }
  std::string Caption;
  int32_t Left = 326;
  bool Checked = true;
  double Interval = 0;
  TStrings Lines;
  TOptions* Peer = nullptr;
  int Mode = 0;
};

TEST(Component, PropertiesByName) {
  TComponent owner;
  auto* o = new TOptions(&owner);
  o->SetName("opts");
  auto* peer = new TOptions(&owner);
  peer->SetName("Other");

  std::vector<std::string> names;
  for (const TPropInfo* p : o->Properties()) names.push_back(p->name);
  EXPECT_EQ(names, (std::vector<std::string>{"Name", "Tag", "Caption", "Left", "Checked", "Interval", "Lines",
                                             "Peer", "Mode"}));
  EXPECT_EQ(GetPropValue(*o, *o->FindProperty("LEFT")).ToInt64(), 326);
  EXPECT_TRUE(SetPropValue(*o, *o->FindProperty("left"), Variant("12")));
  EXPECT_EQ(o->Left, 12);
  EXPECT_FALSE(SetPropValue(*o, *o->FindProperty("left"), Variant("abc")));
  EXPECT_EQ(o->Left, 12);
  EXPECT_TRUE(SetPropValue(*o, *o->FindProperty("Checked"), Variant(false)));
  EXPECT_FALSE(o->Checked);
  EXPECT_TRUE(SetPropValue(*o, *o->FindProperty("Interval"), Variant(2.5)));
  EXPECT_EQ(o->Interval, 2.5);
  EXPECT_TRUE(SetPropValue(*o, *o->FindProperty("Lines"), Variant("a\r\nb")));
  EXPECT_EQ(o->Lines.Count(), 2u);
  EXPECT_TRUE(SetPropValue(*o, *o->FindProperty("Peer"), Variant("other")));
  EXPECT_EQ(o->Peer, peer);
  EXPECT_EQ(GetPropValue(*o, *o->FindProperty("Peer")).ToAnsi(), "Other");
  EXPECT_FALSE(SetPropValue(*o, *o->FindProperty("Mode"), Variant("mNever")));
  EXPECT_TRUE(SetPropValue(*o, *o->FindProperty("Mode"), Variant("MPOLL")));
  EXPECT_EQ(GetPropValue(*o, *o->FindProperty("Mode")).ToAnsi(), "mPoll");
  EXPECT_EQ(o->FindProperty("Missing"), nullptr);
  EXPECT_TRUE(o->InheritsFrom(TComponent::StaticClass()));
  EXPECT_FALSE(owner.InheritsFrom(TOptions::StaticClass()));
  EXPECT_EQ(owner.FindComponent("OPTS"), o);
}

TEST(Component, OwnershipFreesDeepTreesAndUnlinks) {
  TComponent root;
  TComponent* c = &root;
  for (int i = 0; i < 200000; ++i) c = new TComponent(c);
  auto* moved = new TComponent(&root);
  TComponent other;
  other.InsertComponent(moved);
  EXPECT_EQ(moved->Owner(), &other);
  EXPECT_EQ(root.ComponentCount(), 1u);
  delete moved;
  EXPECT_EQ(other.ComponentCount(), 0u);
}

}  // namespace
}  // namespace kel
