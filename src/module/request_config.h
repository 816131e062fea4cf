// The request configuration: the XML text that the options form stores
// (root element MODBUSRTUQUERY), read into poll requests.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "module/request_item.h"
#include "module/request_list.h"

namespace bacnet_module {

class TaPlugin;
class TDataSourceCfg;
class TRequestList;
class TSerialPortDM;

// Reads the configuration and hands over its items in list order: for every
// request, every accepted device instance, every kept response item.  Group
// numbers count from 1.  Raises kel::EkelError after handing over limit
// items when the configuration would make more.
void ReadRequestConfig(std::string_view xml, const std::function<void(std::unique_ptr<TRequestItem>)>& add,
                       size_t limit = kMaxRequestItems);

// Why a response item of the configuration is not polled.
enum class TLeftOutReason { UnreadableType, InstanceOutOfRange, Nameless };

// Reports every response item that ReadRequestConfig leaves out, with its
// request's description, its name and its data-type code, in document order.
void CheckRequestConfig(std::string_view xml,
                        const std::function<void(const std::string& description, const std::string& name,
                                                 const std::string& type, TLeftOutReason why)>& report);

// A count of the options (a spin edit's value): rounded, held to
// low..high; otherwise when it is not a number.
int32_t OptionCount(double value, int32_t low, int32_t high, int32_t otherwise);

// Rebuilds list from cfg.  With a module: its timer is disabled, its
// discovery list and device table emptied, and its requests reset at the
// end (which re-arms the timer); nothing is built while the owner is
// unloaded or no module type is enabled.  Without a module only cfg counts
// (the items the instance declares).
void BuildRequestList(TaPlugin& owner, TDataSourceCfg* cfg, TRequestList& list, TSerialPortDM* module);

}  // namespace bacnet_module
