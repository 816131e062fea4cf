#include "options_package.h"

#include <zlib.h>

#include <cstdint>

namespace host {

namespace {

uint32_t LE32(std::string_view b, size_t at) {
  uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<uint8_t>(b[at + static_cast<size_t>(i)]);
  return v;
}

bool Fail(std::string* error, const std::string& what) {
  if (error) *error = what;
  return false;
}

}  // namespace

bool SplitOptionsPackage(std::string_view bytes, OptionsPackage* out, std::string* error) {
  constexpr size_t kHeader = 24;
  if (bytes.size() < kHeader) return Fail(error, "package shorter than its header");
  const uint64_t formOffset = LE32(bytes, 0), formLength = LE32(bytes, 4);
  const uint64_t extraOffset = LE32(bytes, 8), extraLength = LE32(bytes, 12);
  const uint64_t scriptOffset = LE32(bytes, 16), scriptLength = LE32(bytes, 20);
  if (formOffset != kHeader) return Fail(error, "form offset " + std::to_string(formOffset) + ", not 24");
  if (extraOffset != formOffset + formLength) return Fail(error, "extra text does not follow the form");
  if (scriptOffset != extraOffset + extraLength) return Fail(error, "script does not follow the extra text");
  if (scriptOffset + scriptLength != bytes.size())
    return Fail(error, "lengths add up to " + std::to_string(scriptOffset + scriptLength) + ", the package has " +
                           std::to_string(bytes.size()) + " bytes");
  out->form.assign(bytes.substr(formOffset, formLength));
  out->extra.assign(bytes.substr(extraOffset, extraLength));
  out->script.assign(bytes.substr(scriptOffset, scriptLength));
  return true;
}

bool Gunzip(std::string_view gz, std::string* out, std::string* error, size_t limit) {
  out->clear();
  z_stream z{};
  if (inflateInit2(&z, 16 + MAX_WBITS) != Z_OK) return Fail(error, "zlib would not start");
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(gz.data()));
  z.avail_in = static_cast<uInt>(gz.size());
  char chunk[16384];
  int rc = Z_OK;
  while (rc != Z_STREAM_END) {
    z.next_out = reinterpret_cast<Bytef*>(chunk);
    z.avail_out = sizeof chunk;
    rc = inflate(&z, Z_NO_FLUSH);
    if (rc != Z_OK && rc != Z_STREAM_END) {
      inflateEnd(&z);
      return Fail(error, rc == Z_BUF_ERROR ? "gzip stream cut short" : "not a gzip stream");
    }
    out->append(chunk, sizeof chunk - z.avail_out);
    if (out->size() > limit) {
      inflateEnd(&z);
      return Fail(error, "more than " + std::to_string(limit) + " bytes when decompressed");
    }
  }
  const bool trailing = z.avail_in != 0;
  inflateEnd(&z);
  if (trailing) return Fail(error, "bytes after the gzip stream");
  return true;
}

bool SplitFormPackageText(std::string_view text, FormPackageText* out, std::string* error) {
  const std::string_view sep = kFormPackageSeparator;
  const size_t first = text.find(sep);
  if (first == std::string_view::npos) return Fail(error, "no section separator");
  const size_t second = text.find(sep, first + sep.size());
  if (second == std::string_view::npos) return Fail(error, "only two sections");
  if (text.find(sep, second + sep.size()) != std::string_view::npos) return Fail(error, "more than three sections");
  out->script.assign(text.substr(0, first));
  std::string_view name = text.substr(first + sep.size(), second - first - sep.size());
  if (name.size() < 4 || name.substr(name.size() - 4) != "\r\n\r\n")
    return Fail(error, "the form name is not followed by CR LF CR LF");
  out->formName.assign(name.substr(0, name.size() - 4));
  out->map.assign(text.substr(second + sep.size()));
  return true;
}

}  // namespace host
