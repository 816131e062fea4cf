#include "runtime/xml/xml_tree.h"

#include <cstring>

#include "runtime/text/text_utils.h"

namespace kel {

// ---- Nodes -----------------------------------------------------------------

TzovXMLNode::~TzovXMLNode() { Clear(); }

void TzovXMLNode::Clear() {
  attributes_.clear();
  // Each node taken from the stack hands its children to the stack first, so
  // the destructor of the node being deleted finds no children to free.
  std::vector<TzovXMLNode*> stack;
  stack.swap(children_);
  while (!stack.empty()) {
    TzovXMLNode* n = stack.back();
    stack.pop_back();
    if (!n->children_.empty()) {
      stack.insert(stack.end(), n->children_.begin(), n->children_.end());
      n->children_.clear();
    }
    delete n;
  }
}

TzovXMLNode* TzovXMLNode::AddChild(std::string name) {
  auto* n = new TzovXMLNode;
  n->Name = std::move(name);
  n->parent_ = this;
  children_.push_back(n);
  return n;
}

void TzovXMLNode::AddAttribute(std::string name, std::string value) {
  attributes_.push_back(TzovXMLAttribute{std::move(name), std::move(value)});
}

TzovXMLNode* TzovXMLNode::FindChild(std::string_view name) const {
  for (TzovXMLNode* c : children_)
    if (SameTextAscii(c->Name, name)) return c;
  return nullptr;
}

TzovXMLNode* TzovXMLNode::FindNode(std::string_view name) const {
  // Depth first in document order: children are pushed last-to-first so that
  // the first child is examined (and its subtree) before its next sibling.
  std::vector<TzovXMLNode*> stack(children_.rbegin(), children_.rend());
  while (!stack.empty()) {
    TzovXMLNode* n = stack.back();
    stack.pop_back();
    if (SameTextAscii(n->Name, name)) return n;
    stack.insert(stack.end(), n->children_.rbegin(), n->children_.rend());
  }
  return nullptr;
}

std::string TzovXMLNode::GetAttribute(std::string_view name, std::string_view def) const {
  for (const auto& a : attributes_)
    if (a.Name == name) return a.Value.empty() ? std::string(def) : a.Value;
  return std::string(def);
}

// ---- Text helpers ------------------------------------------------------------

std::string XmlDecodeEntities(std::string_view s) {
  size_t amp = s.find('&');
  if (amp == std::string_view::npos) return std::string(s);
  static const struct {
    const char* ref;
    size_t len;
    char ch;
  } kEntities[] = {{"&amp;", 5, '&'}, {"&lt;", 4, '<'}, {"&gt;", 4, '>'}, {"&apos;", 6, '\''}, {"&quot;", 6, '"'}};
  std::string out;
  out.reserve(s.size());
  out.append(s.substr(0, amp));
  size_t i = amp;
  while (i < s.size()) {
    if (s[i] == '&') {
      bool done = false;
      for (const auto& e : kEntities) {
        if (s.compare(i, e.len, e.ref) == 0) {
          out.push_back(e.ch);
          i += e.len;
          done = true;
          break;
        }
      }
      if (done) continue;
    }
    out.push_back(s[i++]);
  }
  return out;
}

namespace {

bool IsBreakOrTab(char c) { return c == '\r' || c == '\n' || c == '\t'; }

// Text between tags and the text of a tag: every line break (after
// normalisation to CR LF) and every TAB becomes a blank, then it is trimmed.
std::string NormaliseText(std::string_view s) {
  s = TrimView(s);
  bool plain = true;
  for (char c : s)
    if (IsBreakOrTab(c)) {
      plain = false;
      break;
    }
  if (plain) return std::string(s);
  std::string out;
  out.reserve(s.size());
  for (size_t i = 0; i < s.size(); ++i) {
    char c = s[i];
    if (c == '\r') {
      if (i + 1 < s.size() && s[i + 1] == '\n') ++i;
      out.push_back(' ');
    } else if (c == '\n' || c == '\t') {
      out.push_back(' ');
    } else {
      out.push_back(c);
    }
  }
  return Trim(out);
}

// Content of CDATA sections and comments: line breaks as CR LF, and the
// sequences backslash-n-blank and backslash-t-blank as CR LF and TAB.
std::string NormaliseContent(std::string_view s, bool escapes) {
  std::string out;
  out.reserve(s.size());
  for (size_t i = 0; i < s.size(); ++i) {
    char c = s[i];
    if (c == '\r') {
      out += "\r\n";
      if (i + 1 < s.size() && s[i + 1] == '\n') ++i;
    } else if (c == '\n') {
      out += "\r\n";
    } else if (escapes && c == '\\' && i + 2 < s.size() && s[i + 2] == ' ' && (s[i + 1] == 'n' || s[i + 1] == 't')) {
      out += s[i + 1] == 'n' ? "\r\n" : "\t";
      i += 2;
    } else {
      out.push_back(c);
    }
  }
  return out;
}

}  // namespace

// ---- Loading -----------------------------------------------------------------

class TzovXMLBuilder {
 public:
  TzovXMLBuilder(TzovXMLTree& tree, std::string_view text) : tree_(tree), s_(text), cur_(&tree) {}

  void Run() {
    const size_t n = s_.size();
    size_t pos = 0;
    while (pos < n) {
      const void* hit = std::memchr(s_.data() + pos, '<', n - pos);
      size_t lt = hit ? static_cast<size_t>(static_cast<const char*>(hit) - s_.data()) : n;
      if (lt > pos) TextRun(s_.substr(pos, lt - pos));
      if (lt >= n) break;
      pos = Construct(lt);
    }
  }

 private:
  // Handles the construct that begins with the "<" at p; gives where scanning
  // goes on.
  size_t Construct(size_t p) {
    const size_t n = s_.size();
    std::string_view rest = s_.substr(p);
    if (StartsTextAscii(rest, "<![CDATA[")) {
      auto [content, next] = UpTo(p + 9, "]]>");
      Token();
      SetText(NormaliseContent(content, true), true);
      return next;
    }
    if (rest.size() >= 2 && rest[1] == '?') {
      auto [content, next] = UpTo(p + 2, "?>");
      Token();
      SetText(XmlDecodeEntities(NormaliseContent(content, false)), false);
      return next;
    }
    if (rest.compare(0, 4, "<!--") == 0) {
      auto [content, next] = UpTo(p + 4, "-->");
      Token();
      SetText(XmlDecodeEntities(NormaliseContent(content, true)), false);
      return next;
    }
    size_t gt = TagEnd(p + 1);
    if (gt >= n) return p + 1;  // no ">" outside quotes: the "<" is dropped
    Token();
    Tag(NormaliseText(s_.substr(p + 1, gt - p - 1)));
    return gt + 1;
  }

  // Content from `from` up to the end marker (or to the end of the text), and
  // the position after the marker.
  std::pair<std::string_view, size_t> UpTo(size_t from, std::string_view marker) {
    const size_t n = s_.size();
    if (from > n) from = n;
    size_t e = s_.find(marker, from);
    if (e == std::string_view::npos) return {s_.substr(from), n};
    return {s_.substr(from, e - from), e + marker.size()};
  }

  // Position of the ">" that closes a tag whose text starts at `from`, skipping
  // quoted sections; the text's size when there is none.  A scan that fails
  // marks every position it passed outside quotes: any later scan that reaches
  // one of them in the same state must fail the same way, so it stops there.
  // That keeps a text full of unclosed "<" linear.
  size_t TagEnd(size_t from) {
    const size_t n = s_.size();
    size_t i = from;
    const bool checkDead = !dead_.empty();
    while (i < n) {
      if (checkDead && dead_[i]) break;
      char c = s_[i];
      if (c == '>') return i;
      if (c == '"' || c == '\'') {
        const void* q = std::memchr(s_.data() + i + 1, c, n - i - 1);
        if (!q) break;
        i = static_cast<size_t>(static_cast<const char*>(q) - s_.data()) + 1;
        continue;
      }
      ++i;
    }
    MarkDead(from);
    return n;
  }

  void MarkDead(size_t from) {
    const size_t n = s_.size();
    if (dead_.empty()) dead_.assign(n, 0);
    size_t i = from;
    while (i < n && !dead_[i]) {
      dead_[i] = 1;
      char c = s_[i];
      if (c == '"' || c == '\'') {
        const void* q = std::memchr(s_.data() + i + 1, c, n - i - 1);
        if (!q) break;
        i = static_cast<size_t>(static_cast<const char*>(q) - s_.data()) + 1;
        continue;
      }
      ++i;
    }
  }

  void Token() { ++tree_.tokenCount_; }

  void TextRun(std::string_view raw) {
    if (TrimView(raw).empty()) return;
    Token();
    SetText(XmlDecodeEntities(NormaliseText(raw)), false);
  }

  void SetText(std::string text, bool cdata) {
    if (overflow_ > 0) return;
    cur_->Text = std::move(text);
    cur_->CData = cdata;
  }

  void Tag(std::string tag) {
    if (!tag.empty() && tag[0] == '/') {
      if (overflow_ > 0) --overflow_;
      else if (cur_ != &tree_) cur_ = cur_->Parent();  // surplus close tags are ignored
      return;
    }
    const bool empty = !tag.empty() && tag.back() == '/';
    if (!empty) ++tree_.openTags_;
    if (overflow_ > 0 || tree_.nodes_ >= tree_.maxNodes_) {
      tree_.truncated_ = true;
      if (!empty) ++overflow_;
      return;
    }
    size_t blank = tag.find(' ');
    TzovXMLNode* node;
    if (blank == std::string::npos) {
      node = cur_->AddChild(std::move(tag));
    } else {
      node = cur_->AddChild(tag.substr(0, blank));
      Attributes(node, std::string_view(tag).substr(blank));
    }
    ++tree_.nodes_;
    if (!empty) cur_ = node;
  }

  void Attributes(TzovXMLNode* node, std::string_view t) {
    size_t pos = 0;
    while (pos < t.size()) {
      size_t eq = t.find('=', pos);
      if (eq == std::string_view::npos) return;
      size_t q = t.find_first_of("'\"", eq + 1);
      if (q == std::string_view::npos) return;
      size_t close = t.find(t[q], q + 1);
      if (close == std::string_view::npos) return;
      if (tree_.attributes_ >= tree_.maxAttributes_) {
        tree_.truncated_ = true;
        return;
      }
      node->AddAttribute(Trim(t.substr(pos, eq - pos)), XmlDecodeEntities(t.substr(q + 1, close - q - 1)));
      ++tree_.attributes_;
      pos = close + 1;
    }
  }

  TzovXMLTree& tree_;
  std::string_view s_;
  TzovXMLNode* cur_;
  size_t overflow_ = 0;  // open tags met past the node limit and not yet closed
  std::vector<unsigned char> dead_;
};

void TzovXMLTree::LoadFromText(std::string_view text) {
  Clear();
  Name.clear();
  Text.clear();
  CData = false;
  tokenCount_ = openTags_ = nodes_ = attributes_ = 0;
  truncated_ = false;
  TzovXMLBuilder(*this, text).Run();
  if (tokenCount_ > 0) Name = "root";
}

// ---- Typed readers -------------------------------------------------------------

const TzovXMLNode* XmlFindValueNode(const TzovXMLNode* start, std::string_view name, bool search,
                                    const TzovXMLNode* second) {
  auto look = [&](const TzovXMLNode* s) -> const TzovXMLNode* {
    if (!s) return nullptr;
    if (SameTextAscii(s->Name, name)) return s;
    return search ? s->FindNode(name) : s->FindChild(name);
  };
  const TzovXMLNode* r = look(start);
  if (!r && second) r = look(second);
  return r;
}

std::string XmlReadText(const TzovXMLNode* start, std::string_view name, std::string_view def, bool search,
                        const TzovXMLNode* second) {
  const TzovXMLNode* n = XmlFindValueNode(start, name, search, second);
  return n ? n->Text : std::string(def);
}

int32_t XmlReadInteger(const TzovXMLNode* start, std::string_view name, int32_t def, bool search,
                       const TzovXMLNode* second) {
  const TzovXMLNode* n = XmlFindValueNode(start, name, search, second);
  if (!n || n->Text.empty()) return def;
  return StrToIntDef(n->Text, def);
}

bool XmlReadBool(const TzovXMLNode* start, std::string_view name, bool def, bool search,
                 const TzovXMLNode* second) {
  const TzovXMLNode* n = XmlFindValueNode(start, name, search, second);
  if (!n) return def;
  if (!n->Text.empty()) return n->Text == "1";
  int32_t state = StrToIntDef(n->GetAttribute("check"), 4);
  if (state < 0 || state > 5) state = 4;
  if (state == 4) return def;
  return state == 2;
}

std::string XmlReadCaption(const TzovXMLNode* node, std::string_view prefix, int32_t number) {
  std::string c = node ? node->GetAttribute("caption") : std::string();
  if (!c.empty()) return c;
  return std::string(prefix) + " #" + std::to_string(number);
}

}  // namespace kel
