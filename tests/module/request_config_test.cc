// The request configuration as the options form writes it, read into the
// flat list of poll requests.
#include "module/request_config.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "runtime/errors.h"

namespace bacnet_module {
namespace {

std::vector<std::unique_ptr<TRequestItem>> Read(const std::string& xml, size_t limit = kMaxRequestItems) {
  std::vector<std::unique_ptr<TRequestItem>> items;
  ReadRequestConfig(xml, [&](std::unique_ptr<TRequestItem> i) { items.push_back(std::move(i)); }, limit);
  return items;
}

std::string Request(const std::string& inner, const std::string& attrs = "") {
  return "<Request" + attrs + ">" + inner + "</Request>";
}
std::string Root(const std::string& requests) { return "<MODBUSRTUQUERY>" + requests + "</MODBUSRTUQUERY>"; }
const std::string kOneItem = "<Response><Item><DataType>D02</DataType><Name>V</Name><Instance>4</Instance></Item></Response>";

std::vector<uint32_t> Devices(const std::string& instanceText) {
  std::vector<uint32_t> out;
  for (auto& i : Read(Root(Request("<Instance>" + instanceText + "</Instance>" + kOneItem))))
    out.push_back(i->Connection.Instance);
  return out;
}

TEST(RequestConfig, DeviceInstanceLists) {
  constexpr uint32_t any = bacnet::AnyInstance;
  EXPECT_EQ(Devices("3;3;0;7"), (std::vector<uint32_t>{3, 7}));
  EXPECT_EQ(Devices("*"), (std::vector<uint32_t>{any}));
  EXPECT_EQ(Devices("1;;2"), (std::vector<uint32_t>{1, any, 2}));
  EXPECT_EQ(Devices("1,*;2;*"), (std::vector<uint32_t>{1, any, 2}));
  EXPECT_EQ(Devices(""), (std::vector<uint32_t>{1}));
  EXPECT_EQ(Devices(";"), (std::vector<uint32_t>{1}));
  EXPECT_EQ(Devices("5;"), (std::vector<uint32_t>{5})) << "nothing after the last separator";
  EXPECT_EQ(Devices(" 12 ,$10"), (std::vector<uint32_t>{12, 16}));
  EXPECT_EQ(Devices("4194303"), (std::vector<uint32_t>{4194303}));
  EXPECT_TRUE(Devices("0").empty()) << "no request, not a poll of device 1";
  // No Instance element at all: device 1.
  auto items = Read(Root(Request(kOneItem)));
  ASSERT_EQ(items.size(), 1u);
  EXPECT_EQ(items[0]->Connection.Instance, 1u);
}

TEST(RequestConfig, ResponseItems) {
  auto item = [](const std::string& inner) { return "<Item>" + inner + "</Item>"; };
  auto items = Read(Root(Request("<Response>" + item("<DataType>D0D</DataType><Instance>$1F</Instance>") +
                                 item("<Name>NoType</Name>") + item("<DataType>D14</DataType>") +
                                 item("<DataType>DZZ</DataType><Name>Z</Name>") + item("<DataType>D00</DataType><Name></Name>") +
                                 item("<DataType>D13</DataType><Instance>4194304</Instance>") +
                                 item("<DataType>D13</DataType><Instance>-1</Instance>") +
                                 item("<DataType>D13</DataType><Instance>4194303</Instance>") + "</Response>")));
  ASSERT_EQ(items.size(), 3u);
  EXPECT_EQ(items[0]->ObjectType, 13);
  EXPECT_EQ(items[0]->ObjectInstance, 31u);
  EXPECT_EQ(items[0]->Name, "ITEM");
  EXPECT_EQ(items[1]->ObjectType, 0) << "DZZ";
  EXPECT_EQ(items[1]->Name, "Z") << "an item with an empty Name element is left out";
  EXPECT_EQ(items[2]->ObjectInstance, 4194303u) << "instances no object can have are dropped";
  for (auto& i : items) {
    EXPECT_EQ(i->GroupSize, 3u);
    EXPECT_EQ(i->GroupId, 1u);
  }
  EXPECT_EQ(items[2]->IndexInGroup, 3);
  // No Response, or no item with a data type: no items.
  EXPECT_TRUE(Read(Root(Request("<EP>1.2.3.4</EP>"))).empty());
  EXPECT_TRUE(Read(Root(Request("<Response>" + item("<Name>X</Name>") + "</Response>"))).empty());
  EXPECT_TRUE(Read("<Other>" + Request(kOneItem) + "</Other>").empty()) << "no MODBUSRTUQUERY root";
}

TEST(RequestConfig, RequestValuesAndDefaults) {
  auto one = [](const std::string& inner, const std::string& attrs = "") {
    auto items = Read(Root(Request(inner + kOneItem, attrs)));
    EXPECT_EQ(items.size(), 1u);
    return items.empty() ? std::make_unique<TRequestItem>() : std::move(items[0]);
  };
  auto d = one("");
  EXPECT_FALSE(d->Enabled);
  EXPECT_FALSE(d->Poll) << "without MethodPoll a request is sent once";
  EXPECT_EQ(d->PollInterval, 1000);
  EXPECT_EQ(d->Timeout, 1500);
  EXPECT_EQ(d->Description, "Request #1");
  EXPECT_EQ(d->Connection.EndPoint.Address, "");
  auto r = one("<Enabled>1</Enabled><EP> 10.0.0.9 :47809</EP><MethodPoll>1</MethodPoll>"
               "<PollInterval>2</PollInterval><PollUnits>M</PollUnits><Timeout>$10</Timeout>",
               " caption=\"Boiler\"");
  EXPECT_TRUE(r->Enabled);
  EXPECT_TRUE(r->Poll);
  EXPECT_EQ(r->PollInterval, 120000);
  EXPECT_EQ(r->Timeout, 16);
  EXPECT_EQ(r->Description, "Boiler");
  EXPECT_EQ(r->Connection.EndPoint.Address, "10.0.0.9");
  EXPECT_EQ(r->Connection.EndPoint.Port, 47809);
  EXPECT_FALSE(r->Connection.EndPoint.IsBroadcast);
  EXPECT_TRUE(one("<EP>192.168.1.255</EP>")->Connection.EndPoint.IsBroadcast);
  // Units are compared exactly; products beyond 32 bits are limited; values
  // below 0 count as 0.
  EXPECT_EQ(one("<PollInterval>7</PollInterval><PollUnits>s</PollUnits>")->PollInterval, 7);
  EXPECT_EQ(one("<PollInterval>3</PollInterval><PollUnits>S</PollUnits>")->PollInterval, 3000);
  EXPECT_EQ(one("<PollInterval>655350</PollInterval><PollUnits>H</PollUnits>")->PollInterval, 2147483647);
  EXPECT_EQ(one("<PollInterval>-5</PollInterval><PollUnits>H</PollUnits>")->PollInterval, 0);
  EXPECT_EQ(one("<Timeout>-1</Timeout>")->Timeout, 0);
  EXPECT_EQ(one("<Timeout>x</Timeout><PollInterval></PollInterval>")->Timeout, 1500);
  // Check boxes as the form's tree writes them.
  EXPECT_TRUE(one("<Enabled check=\"2\"/><MethodPoll check=\"2\"></MethodPoll>")->Enabled);
  EXPECT_TRUE(one("<MethodPoll check=\"2\"/>")->Poll);
  EXPECT_FALSE(one("<Enabled check=\"0\"/>")->Enabled);
  EXPECT_FALSE(one("<Enabled check=\"9\"/>")->Enabled) << "an unusable state is the default";
  EXPECT_FALSE(one("<Enabled>true</Enabled>")->Enabled) << "only \"1\" is true";
}

TEST(RequestConfig, GroupsCountAcrossRequests) {
  const std::string two = "<Response><A><DataType>D00</DataType></A><B><DataType>D03</DataType></B></Response>";
  auto items = Read(Root(Request("<Instance>1,2</Instance>" + two) + "<Cat>" "<Instance>1,2</Instance>" + two +
                         "</Cat>" + Request(kOneItem)));
  ASSERT_EQ(items.size(), 9u);
  std::vector<uint32_t> groups, devices;
  for (auto& i : items) {
    groups.push_back(i->GroupId);
    devices.push_back(i->Connection.Instance);
  }
  EXPECT_EQ(groups, (std::vector<uint32_t>{1, 1, 2, 2, 3, 3, 4, 4, 5}));
  EXPECT_EQ(devices, (std::vector<uint32_t>{1, 1, 2, 2, 1, 1, 2, 2, 1}));
  EXPECT_EQ(items[4]->Description, "Request #2") << "any element name is a request";
  EXPECT_EQ(items[8]->Description, "Request #3");
  EXPECT_EQ(items[1]->ObjectType, 3);
}

// The XML as the options form's tree writes it: category elements, a
// caption attribute, check boxes as "check" attributes.
TEST(RequestConfig, TheFormsOwnXml) {
  std::ifstream in(BACNETIP_MODULE_TEST_DATA "/form_written.xml", std::ios::binary);
  ASSERT_TRUE(in) << "sample missing";
  const std::string xml((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  auto items = Read(xml);
  ASSERT_EQ(items.size(), 5u);
  struct Want {
    uint32_t group, device;
    const char* name;
    uint16_t type;
    uint32_t instance;
    int32_t index;
  };
  const Want want[] = {{1, 1001, "SUPPLY_TEMP", 0, 1, 1}, {1, 1001, "PUMP_ON", 3, 4, 2},
                       {2, 1002, "SUPPLY_TEMP", 0, 1, 1}, {2, 1002, "PUMP_ON", 3, 4, 2},
                       {3, bacnet::AnyInstance, "ZONE_MODE", 19, 2, 1}};
  for (size_t i = 0; i < 5; ++i) {
    const TRequestItem& it = *items[i];
    EXPECT_EQ(it.GroupId, want[i].group) << i;
    EXPECT_EQ(it.Connection.Instance, want[i].device) << i;
    EXPECT_EQ(it.Name, want[i].name) << i;
    EXPECT_EQ(it.ObjectType, want[i].type) << i;
    EXPECT_EQ(it.ObjectInstance, want[i].instance) << i;
    EXPECT_EQ(it.IndexInGroup, want[i].index) << i;
    const bool first = i < 4;
    EXPECT_EQ(it.GroupSize, first ? 2u : 1u) << i;
    EXPECT_EQ(it.Description, first ? "Boiler room" : "Request #2") << i;
    EXPECT_EQ(it.Enabled, first) << i;
    EXPECT_EQ(it.Poll, first) << i;
    EXPECT_EQ(it.PollInterval, first ? 5000 : 1000) << i;
    EXPECT_EQ(it.Timeout, first ? 2000 : 1500) << i;
    EXPECT_EQ(it.Connection.EndPoint.Address, first ? "192.168.10.20" : "10.0.0.255") << i;
    EXPECT_EQ(it.Connection.EndPoint.IsBroadcast, !first) << i;
  }
}

TEST(RequestConfig, TooManyItemsStopWithTheItemsMadeSoFar) {
  std::string response = "<Response>";
  for (int i = 0; i < 10; ++i) response += "<I><DataType>D00</DataType><Instance>" + std::to_string(i) + "</Instance></I>";
  response += "</Response>";
  std::vector<std::unique_ptr<TRequestItem>> items;
  EXPECT_THROW(ReadRequestConfig(Root(Request("<Instance>1;2;3</Instance>" + response)),
                                 [&](std::unique_ptr<TRequestItem> i) { items.push_back(std::move(i)); }, 25),
               kel::EkelError);
  EXPECT_EQ(items.size(), 25u);
  EXPECT_EQ(items.back()->GroupId, 3u);
  EXPECT_NO_THROW(Read(Root(Request("<Instance>1;2;3</Instance>" + response)), 30));
}

}  // namespace
}  // namespace bacnet_module
