// Writing records as a data logger stores them: CSV or JSON lines.
//
// JSON lines: one object per record,
//   {"source":1,"via":"output","items":{"DATE_TIME_STAMP":"2026-01-02T03:04:05.678","DATA_SOURCE_ID":1,...}}
// with the items in the order the module delivered them; numbers and
// booleans unquoted, texts and dates (ISO, local time) as strings, empty or
// null values as null.  "via" is "output" for records from the ProcessData
// output list and "kind9" for records the module sent on its own.  A name
// that repeats within one record is written with "#2", "#3"... appended.
//
// CSV (RFC 4180, CR LF line ends): a header line "source,via,<names...>"
// whenever a record's item names differ from those of the record before,
// then one line per record.  Fields holding a comma, a double quote, a line
// break or a blank at either end are quoted, quotes doubled; null is an
// empty field.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "parsed_records.h"

namespace host {

enum class RecordVia { Output, Kind9 };

struct Record {
  int32_t source = 0;
  RecordVia via = RecordVia::Output;
  NamedValues items;
};

enum class RecordFormat { Csv, Jsonl };

class RecordWriter {
 public:
  virtual ~RecordWriter() = default;
  // The text for one record (with its header line, for CSV, when the item
  // set changed).
  virtual std::string Format(const Record& record) = 0;
};

std::unique_ptr<RecordWriter> MakeRecordWriter(RecordFormat format);

// The text as a JSON string literal, quotes included; bytes that are not
// valid UTF-8 become U+FFFD.
std::string JsonString(const std::string& utf8);
// One CSV field.
std::string CsvField(const std::string& text);

// Splits an output list at its row markers ("$NEW_ROW$" items); rows
// without items are dropped.
std::vector<NamedValues> SplitRows(const NamedValues& items);

}  // namespace host
