// A program a test starts (bachost, bacsim, Wine): its standard output and
// error are collected by threads of their own, so that a chatty child never
// blocks, and a test waits for what it needs to see with a bound, never by
// sleeping.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "common/text_lines.h"

namespace testutil {

class ChildProcess {
 public:
  explicit ChildProcess(const std::vector<std::string>& args);
  // With outputBase set, standard output and error go to the files
  // outputBase + ".out" and ".err" instead of pipes, which a program that
  // leaves processes of its own behind (Wine's server) would keep open;
  // Out and Err read them, and only the exit can be waited for.
  ChildProcess(const std::vector<std::string>& args, const std::string& outputBase);
  // Ends a child still running (SIGKILL) and joins the readers.
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  bool Started() const { return pid_ > 0; }
  pid_t Pid() const { return pid_; }
  // Waits until pred(out, err) holds; false when the bound passed or the
  // child closed both outputs first without it holding.
  bool WaitFor(const std::function<bool(const std::string& out, const std::string& err)>& pred,
               std::chrono::milliseconds bound);
  // A line of standard output that starts with prefix.
  bool WaitForOutLine(const std::string& prefix, std::chrono::milliseconds bound);
  // The next line of standard error that starts with prefix, after the one
  // the previous call found; empty when the bound passed or the child
  // closed its standard error first.
  std::string WaitForErrLine(const std::string& prefix, std::chrono::milliseconds bound = std::chrono::seconds(20));
  // The same for a line of standard output that contains text anywhere.
  std::string WaitForOutLineWith(const std::string& text, std::chrono::milliseconds bound = std::chrono::seconds(20));
  // Sends sig and waits for the child to end; its exit status (128 + signal
  // when a signal ended it), -1 when it had to be killed after the bound.
  // Once it returns, Out and Err hold all the child wrote.
  int Stop(int sig, std::chrono::milliseconds bound = std::chrono::seconds(20));
  // Waits for the child to end by itself, as Stop does.
  int Wait(std::chrono::milliseconds bound = std::chrono::seconds(20));
  // Sends sig and returns at once.
  void Signal(int sig);

  std::string Out();
  std::string Err();

 private:
  void Reader(int fd, std::string* into);
  int Reap(std::chrono::milliseconds bound);
  // The next line of text from *scanned on that satisfies match; see
  // WaitForErrLine.
  std::string WaitForLine(const std::string& text, size_t* scanned, const std::function<bool(const std::string&)>& match,
                          std::chrono::milliseconds bound);

  void Start(const std::vector<std::string>& args, int outFd, int errFd);
  std::string ReadOutputFile(const char* suffix);

  pid_t pid_ = -1;
  std::string outputBase_;
  int status_ = -2;
  std::mutex m_;
  std::condition_variable cv_;
  std::string out_, err_;
  int open_ = 0;
  size_t outScanned_ = 0, errScanned_ = 0;
  std::thread outReader_, errReader_;
};

}  // namespace testutil
