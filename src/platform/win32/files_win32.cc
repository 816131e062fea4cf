// Files, folders and the named inter-process lock on Windows.
#include <windows.h>
#include <shlobj.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>

#include "platform/port.h"

namespace port {

char PathSeparator() { return '\\'; }

std::string GetEnv(const char* name) {
  const char* v = std::getenv(name);
  return v ? v : "";
}

bool ReadFile(const std::string& path, std::string* contents, size_t maxBytes) {
  HANDLE h = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  LARGE_INTEGER size;
  if (GetFileType(h) != FILE_TYPE_DISK ||
      (GetFileSizeEx(h, &size) && static_cast<unsigned long long>(size.QuadPart) > maxBytes)) {
    CloseHandle(h);
    return false;
  }
  std::string data;
  char buf[65536];
  DWORD n = 0;
  bool ok = true;
  while ((ok = ::ReadFile(h, buf, sizeof buf, &n, nullptr) != 0) && n > 0) {
    if (n > maxBytes - data.size()) {  // grew while being read
      ok = false;
      break;
    }
    data.append(buf, n);
  }
  CloseHandle(h);
  if (!ok) return false;
  *contents = std::move(data);
  return true;
}

bool WriteFileAtomic(const std::string& path, std::string_view contents) {
  // A temporary name of this call's own, so that two threads saving the
  // same file at once do not shut each other out of one temporary file.
  static std::atomic<uint32_t> calls{0};
  std::string tmp = path + ".tmp" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(calls.fetch_add(1) + 1);
  HANDLE h = CreateFileA(tmp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  size_t done = 0;
  bool ok = true;
  while (ok && done < contents.size()) {
    DWORD n = 0;
    DWORD chunk = static_cast<DWORD>(contents.size() - done > 1u << 30 ? 1u << 30 : contents.size() - done);
    ok = ::WriteFile(h, contents.data() + done, chunk, &n, nullptr) != 0 && n > 0;
    done += n;
  }
  ok = ok && FlushFileBuffers(h);
  CloseHandle(h);
  if (!ok || !MoveFileExA(tmp.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    DeleteFileA(tmp.c_str());
    return false;
  }
  return true;
}

bool FileExists(const std::string& path) {
  DWORD a = GetFileAttributesA(path.c_str());
  return a != INVALID_FILE_ATTRIBUTES && !(a & FILE_ATTRIBUTE_DIRECTORY);
}

bool DirectoryExists(const std::string& path) {
  DWORD a = GetFileAttributesA(path.c_str());
  return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

bool CreateDirectories(const std::string& path) {
  if (path.empty()) return false;
  size_t i = 0;
  while (i <= path.size()) {
    size_t j = path.find_first_of("\\/", i);
    if (j == std::string::npos) j = path.size();
    std::string cur = path.substr(0, j);
    if (!cur.empty() && cur.back() != ':' && !DirectoryExists(cur)) CreateDirectoryA(cur.c_str(), nullptr);
    i = j + 1;
  }
  return DirectoryExists(path);
}

bool RemoveFile(const std::string& path) { return DeleteFileA(path.c_str()) != 0; }

std::string TempDirectory() {
  char buf[MAX_PATH + 1];
  DWORD n = GetTempPathA(sizeof buf, buf);
  return std::string(buf, n);
}

std::string AppDataDirectory(bool common) {
  char buf[MAX_PATH];
  if (SHGetFolderPathA(nullptr, common ? CSIDL_COMMON_APPDATA : CSIDL_APPDATA, nullptr, 0, buf) != S_OK)
    return TempDirectory();
  std::string d = buf;
  if (!d.empty() && d.back() != '\\') d.push_back('\\');
  return d;
}

std::string ConfigDirectory() { return AppDataDirectory(false); }

NamedLock::NamedLock(const std::string& name) : name_(name) {}
NamedLock::~NamedLock() { Release(); }

bool NamedLock::Acquire(uint32_t timeoutMs) {
  if (held_) return true;
  std::string safe;
  for (char c : name_) safe.push_back(c == '\\' ? '_' : c);
  // Object names are limited to MAX_PATH characters: a long name keeps its
  // start and gets a hash of the whole name in place of the rest.
  if (safe.size() > 200) {
    unsigned long long hash = 1469598103934665603ull;
    for (char c : name_) hash = (hash ^ static_cast<unsigned char>(c)) * 1099511628211ull;
    char hex[17];
    std::snprintf(hex, sizeof hex, "%016llx", hash);
    safe = safe.substr(0, 180) + "-" + hex;
  }
  HANDLE h = CreateMutexA(nullptr, FALSE, safe.c_str());
  if (!h) return false;
  DWORD r = WaitForSingleObject(h, timeoutMs);
  if (r != WAIT_OBJECT_0 && r != WAIT_ABANDONED) {
    CloseHandle(h);
    return false;
  }
  handle_ = reinterpret_cast<intptr_t>(h);
  held_ = true;
  return true;
}

void NamedLock::Release() {
  if (!held_) return;
  HANDLE h = reinterpret_cast<HANDLE>(handle_);
  ReleaseMutex(h);
  CloseHandle(h);
  handle_ = -1;
  held_ = false;
}

}  // namespace port
