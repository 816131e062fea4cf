// The options-dialog package a host fetches with GetOptionsDialog: a 24-byte
// header of 32-bit offsets and lengths, then the form stream, the extra text
// and the form script.  The module's script is a gzip-compressed text of
// three sections: the script's syntax tree, the form's resource name and the
// persistence map.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace host {

struct OptionsPackage {
  std::string form;
  std::string extra;
  std::string script;
};

// Checks the header against the bytes (offsets in order, lengths adding up
// to the size exactly) and takes the three parts.
bool SplitOptionsPackage(std::string_view bytes, OptionsPackage* out, std::string* error);

// Decompresses a gzip stream of at most limit bytes of output.
bool Gunzip(std::string_view gz, std::string* out, std::string* error, size_t limit = 16u << 20);

struct FormPackageText {
  std::string script;    // the syntax tree (XML)
  std::string formName;  // the form's resource name
  std::string map;       // the persistence map, one line each ended by CR LF
};

// Splits the decompressed text at its two separators.
bool SplitFormPackageText(std::string_view text, FormPackageText* out, std::string* error);

inline constexpr char kFormPackageSeparator[] = "\r\n\r\n<=======>\r\n\r\n";

}  // namespace host
