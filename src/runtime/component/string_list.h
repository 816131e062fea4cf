// A list of text lines in the manner of the framework's string lists: optional
// sorting (ignoring ASCII case), a duplicates rule for sorted lists, the whole
// list as one text, and notifications before and after every change.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace kel {

enum class TDuplicates { Ignore, Accept, Error };

class TStrings {
 public:
  TStrings() = default;
  TStrings(const TStrings& o) : lines_(o.lines_), sorted_(o.sorted_), duplicates_(o.duplicates_) {}
  TStrings& operator=(const TStrings& o);

  size_t Count() const { return lines_.size(); }
  const std::string& operator[](size_t i) const { return lines_[i]; }
  const std::vector<std::string>& Lines() const { return lines_; }

  // Adds a line (at its sorted place when sorted).  Gives its index, or -1 when
  // a sorted list refuses a duplicate (Ignore and Error both refuse; callers
  // that need an error raise it themselves).
  int32_t Add(std::string line);
  void Insert(size_t index, std::string line);  // unsorted lists only; appends when sorted
  void Put(size_t index, std::string line);
  void Delete(size_t index);
  void Clear();
  // Index of the first line equal to s ignoring ASCII case, -1 when none.
  int32_t IndexOf(std::string_view s) const;

  // Lines joined with CR LF after each line; setting splits at CR LF, CR or LF.
  std::string Text() const;
  void SetText(std::string_view text);
  void Assign(const TStrings& other);  // copies the lines only
  void AssignLines(std::vector<std::string> lines);

  bool Sorted() const { return sorted_; }
  void SetSorted(bool v);
  TDuplicates Duplicates() const { return duplicates_; }
  void SetDuplicates(TDuplicates d) { duplicates_ = d; }
  int32_t Capacity() const { return static_cast<int32_t>(lines_.capacity()); }
  void SetCapacity(int32_t n);

  // Notifications: OnChanging before and OnChange after any change of the lines.
  std::function<void()> OnChanging;
  std::function<void()> OnChange;

  // Groups several changes into one pair of notifications.
  void BeginUpdate();
  void EndUpdate();

 private:
  void Changing();
  void Changed();
  size_t SortedPlace(std::string_view s, bool* found) const;

  std::vector<std::string> lines_;
  bool sorted_ = false;
  TDuplicates duplicates_ = TDuplicates::Ignore;
  int32_t updates_ = 0;
};

}  // namespace kel
