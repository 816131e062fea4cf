// Any bytes as request configuration: the reader must build a tree, look
// things up and free it without faults.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "runtime/xml/xml_tree.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  kel::TzovXMLTree tree;
  tree.LoadFromText(std::string_view(reinterpret_cast<const char*>(data), size));
  const kel::TzovXMLNode* root = tree.FindNode("MODBUSRTUQUERY");
  if (root) {
    for (const kel::TzovXMLNode* req : root->Children()) {
      (void)kel::XmlReadBool(req, "Enabled", false, true);
      (void)kel::XmlReadInteger(req, "Timeout", 1500, true);
      (void)kel::XmlReadCaption(req, "Request", 1);
    }
  }
  (void)tree.FindNode("no-such-element");
  return 0;
}
