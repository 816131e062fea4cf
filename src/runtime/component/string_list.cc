#include "runtime/component/string_list.h"

#include <algorithm>

#include "runtime/text/text_utils.h"

namespace kel {

TStrings& TStrings::operator=(const TStrings& o) {
  if (this != &o) Assign(o);
  return *this;
}

void TStrings::Changing() {
  if (updates_ == 0 && OnChanging) OnChanging();
}

void TStrings::Changed() {
  if (updates_ == 0 && OnChange) OnChange();
}

void TStrings::BeginUpdate() {
  if (updates_++ == 0 && OnChanging) OnChanging();
}

void TStrings::EndUpdate() {
  if (updates_ > 0 && --updates_ == 0 && OnChange) OnChange();
}

size_t TStrings::SortedPlace(std::string_view s, bool* found) const {
  auto it = std::lower_bound(lines_.begin(), lines_.end(), s, [](const std::string& a, std::string_view b) {
    return CompareTextAscii(a, b) < 0;
  });
  *found = it != lines_.end() && CompareTextAscii(*it, s) == 0;
  return static_cast<size_t>(it - lines_.begin());
}

int32_t TStrings::Add(std::string line) {
  size_t at = lines_.size();
  if (sorted_) {
    bool found = false;
    at = SortedPlace(line, &found);
    if (found && duplicates_ != TDuplicates::Accept) return -1;
  }
  Changing();
  lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(at), std::move(line));
  Changed();
  return static_cast<int32_t>(at);
}

void TStrings::Insert(size_t index, std::string line) {
  if (sorted_ || index >= lines_.size()) {
    if (sorted_) Add(std::move(line));
    else {
      Changing();
      lines_.push_back(std::move(line));
      Changed();
    }
    return;
  }
  Changing();
  lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(index), std::move(line));
  Changed();
}

void TStrings::Put(size_t index, std::string line) {
  if (index >= lines_.size()) return;
  Changing();
  lines_[index] = std::move(line);
  Changed();
}

void TStrings::Delete(size_t index) {
  if (index >= lines_.size()) return;
  Changing();
  lines_.erase(lines_.begin() + static_cast<std::ptrdiff_t>(index));
  Changed();
}

void TStrings::Clear() {
  if (lines_.empty()) return;
  Changing();
  lines_.clear();
  Changed();
}

int32_t TStrings::IndexOf(std::string_view s) const {
  for (size_t i = 0; i < lines_.size(); ++i)
    if (SameTextAscii(lines_[i], s)) return static_cast<int32_t>(i);
  return -1;
}

std::string TStrings::Text() const {
  size_t n = 0;
  for (const auto& l : lines_) n += l.size() + 2;
  std::string out;
  out.reserve(n);
  for (const auto& l : lines_) {
    out += l;
    out += "\r\n";
  }
  return out;
}

void TStrings::SetText(std::string_view text) {
  std::vector<std::string> lines;
  size_t i = 0;
  while (i < text.size()) {
    size_t j = i;
    while (j < text.size() && text[j] != '\r' && text[j] != '\n') ++j;
    lines.emplace_back(text.substr(i, j - i));
    if (j < text.size() && text[j] == '\r') ++j;
    if (j < text.size() && text[j] == '\n') ++j;
    i = j;
  }
  AssignLines(std::move(lines));
}

void TStrings::AssignLines(std::vector<std::string> lines) {
  Changing();
  lines_ = std::move(lines);
  if (sorted_) {
    std::stable_sort(lines_.begin(), lines_.end(),
                     [](const std::string& a, const std::string& b) { return CompareTextAscii(a, b) < 0; });
    if (duplicates_ != TDuplicates::Accept)
      lines_.erase(std::unique(lines_.begin(), lines_.end(),
                               [](const std::string& a, const std::string& b) { return CompareTextAscii(a, b) == 0; }),
                   lines_.end());
  }
  Changed();
}

void TStrings::Assign(const TStrings& other) { AssignLines(other.lines_); }

void TStrings::SetSorted(bool v) {
  if (v == sorted_) return;
  sorted_ = v;
  if (v) AssignLines(std::move(lines_));
}

void TStrings::SetCapacity(int32_t n) {
  // Capacity comes from stored descriptions and settings, so it is only a
  // hint: reserving more than this gains nothing and any number may arrive.
  constexpr size_t kMaxReserve = size_t{1} << 16;
  size_t want = n > 0 ? static_cast<size_t>(n) : 0;
  if (want > kMaxReserve) want = kMaxReserve;
  if (want > lines_.size()) lines_.reserve(want);
}

}  // namespace kel
