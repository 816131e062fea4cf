// A small, forgiving XML reader for the request configuration.  It reads only,
// never validates, and turns any text into a tree of whatever elements the
// tokens describe.  Nothing in it recurses per nesting level: building, the
// look-ups and freeing a tree all use explicit stacks or loops.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kel {

struct TzovXMLAttribute {
  std::string Name;
  std::string Value;
};

class TzovXMLNode {
 public:
  TzovXMLNode() = default;
  // Frees the whole subtree with a loop, however deep it is.
  virtual ~TzovXMLNode();
  TzovXMLNode(const TzovXMLNode&) = delete;
  TzovXMLNode& operator=(const TzovXMLNode&) = delete;

  std::string Name;
  std::string Text;
  bool CData = false;

  TzovXMLNode* Parent() const { return parent_; }
  size_t ChildCount() const { return children_.size(); }
  TzovXMLNode* Child(size_t i) const { return children_[i]; }
  const std::vector<TzovXMLNode*>& Children() const { return children_; }
  const std::vector<TzovXMLAttribute>& Attributes() const { return attributes_; }

  TzovXMLNode* AddChild(std::string name);
  void AddAttribute(std::string name, std::string value);
  // Frees the children and the attributes.
  void Clear();

  // First direct child whose name equals name, ASCII letters ignoring case.
  TzovXMLNode* FindChild(std::string_view name) const;
  // First descendant (depth first, document order) of that name; the node
  // itself is not compared.
  TzovXMLNode* FindNode(std::string_view name) const;
  // Value of the first attribute named exactly name when not empty, else def.
  std::string GetAttribute(std::string_view name, std::string_view def = {}) const;

 private:
  TzovXMLNode* parent_ = nullptr;
  std::vector<TzovXMLNode*> children_;
  std::vector<TzovXMLAttribute> attributes_;
};

class TzovXMLTree : public TzovXMLNode {
 public:
  // Limits that keep hostile input from exhausting memory.  Elements beyond
  // MaxNodes are not made (their close tags still balance), attributes beyond
  // MaxAttributes are not stored; Truncated() then tells so.
  static constexpr size_t kDefaultMaxNodes = 1000000;
  static constexpr size_t kDefaultMaxAttributes = 1000000;

  TzovXMLTree() = default;

  // Replaces the tree by the one read from text.  Never fails.
  void LoadFromText(std::string_view text);

  size_t TokenCount() const { return tokenCount_; }
  size_t OpenTagCount() const { return openTags_; }
  size_t NodeCount() const { return nodes_; }
  bool Truncated() const { return truncated_; }
  void SetLimits(size_t maxNodes, size_t maxAttributes) {
    maxNodes_ = maxNodes;
    maxAttributes_ = maxAttributes;
  }

 private:
  size_t tokenCount_ = 0;
  size_t openTags_ = 0;
  size_t nodes_ = 0;
  size_t attributes_ = 0;
  bool truncated_ = false;
  size_t maxNodes_ = kDefaultMaxNodes;
  size_t maxAttributes_ = kDefaultMaxAttributes;

  friend class TzovXMLBuilder;
};

// Replaces the five predefined entity references in one pass.
std::string XmlDecodeEntities(std::string_view s);

// Typed value readers.  The element is the start element itself when its own
// name matches, else FindNode (search) or FindChild (!search) from it; when
// nothing is found and second is given, the same on second.
const TzovXMLNode* XmlFindValueNode(const TzovXMLNode* start, std::string_view name, bool search,
                                    const TzovXMLNode* second = nullptr);
std::string XmlReadText(const TzovXMLNode* start, std::string_view name, std::string_view def, bool search,
                        const TzovXMLNode* second = nullptr);
int32_t XmlReadInteger(const TzovXMLNode* start, std::string_view name, int32_t def, bool search,
                       const TzovXMLNode* second = nullptr);
// Text "1" is true, other non-empty text false; empty text reads the "check"
// state (2 true, 4 or unusable the default, else false).
bool XmlReadBool(const TzovXMLNode* start, std::string_view name, bool def, bool search,
                 const TzovXMLNode* second = nullptr);
// The "caption" attribute, or prefix + " #" + number when it is empty.
std::string XmlReadCaption(const TzovXMLNode* node, std::string_view prefix, int32_t number);

}  // namespace kel
