// The scenario-script interpreter behind vellix-run: reads a script line by line, drives the
// simulated host and prints what the module answered.
#pragma once

#include <cstdint>
#include <istream>
#include <ostream>
#include <stdexcept>
#include <string>
#include <vector>

#include "host.h"

namespace vxsim {

// A script fault, its message already located: "SCRIPT:LINE: what is wrong".
class ScriptError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The edit-data block of `object NAME PROP=VALUE...`: 3488 zero bytes, replaced first by an
// `editdata=FILE` option's file, then each prop written at its offset. Throws SyntaxError
// for an unknown prop, a bad value or an unreadable file.
std::vector<uint8_t> EditDataFromProps(const std::vector<Option>& props);

class Runner {
 public:
  // `scriptName` is used in error locations; output goes to `out`, flushed line by line.
  Runner(Host& host, std::string scriptName, std::ostream& out);

  // With tracing on, every printed line begins with the number of the script line whose
  // command printed it, and for a handler's output the chain of lines that led to it:
  // "4: ", "4>2: " (line 4 raised the trigger whose handler on line 2 printed), "end: " for
  // what the end of the script prints.
  void SetTrace(bool on) { trace_ = on; }

  // Starts the top-level application, runs every line, then destroys every object and ends
  // every application. Throws ScriptError at the first bad line (nothing after it runs; the
  // host is torn down without reporting anything more).
  void Run(std::istream& script);

 private:
  struct Handler {
    Application* app;
    std::string object;
    int condition;
    std::vector<std::string> command;  // raw tokens, first the command word
    int line;
  };

  // Runs one command; `handler` is set when it runs from an `on` declaration.
  void Execute(const std::vector<std::string>& raw, int line, const Handler* handler);
  void Dispatch(const std::vector<std::string>& raw, int line);
  void OnTrigger(Object& object, int condition);

  void CmdApp(const std::vector<std::string>& raw);
  void CmdFolders(const std::vector<std::string>& raw);
  void CmdObject(const std::vector<std::string>& raw);
  void CmdCall(const std::vector<std::string>& raw, RoutineKind kind);
  void CmdOn(const std::vector<std::string>& raw, int line);
  void CmdFile(const std::vector<std::string>& raw);

  Object& FindObjectOrThrow(const std::string& name);
  void Print(const std::string& line);
  std::string Prefix(int line) const;

  Host& host_;
  std::string scriptName_;
  std::ostream& out_;
  std::vector<Handler> handlers_;
  bool trace_ = false;
  std::vector<int> running_;  // the script lines of the commands now running, outermost first
};

}  // namespace vxsim
