#pragma once
// One torvactl sub-command: a name, a one-line summary and the function that runs it with the
// arguments that follow the name.

#include <string>
#include <vector>

namespace torvactl {

struct Command {
  const char* name;
  const char* summary;
  int (*run)(const std::vector<std::string>& arguments);
};

// Every sub-command, in the order `torvactl --help` lists them.
const std::vector<Command>& Commands();

int RunStatus(const std::vector<std::string>& arguments);
int RunList(const std::vector<std::string>& arguments);
int RunInfo(const std::vector<std::string>& arguments);
int RunBlink(const std::vector<std::string>& arguments);
int RunSetGains(const std::vector<std::string>& arguments);
int RunSetExcitations(const std::vector<std::string>& arguments);
int RunSetRotation(const std::vector<std::string>& arguments);
int RunStream(const std::vector<std::string>& arguments);
int RunOrder(const std::vector<std::string>& arguments);
int RunZero(const std::vector<std::string>& arguments);
int RunTare(const std::vector<std::string>& arguments);
int RunSetupCheck(const std::vector<std::string>& arguments);
int RunSaveConfig(const std::vector<std::string>& arguments);
int RunDownloadCal(const std::vector<std::string>& arguments);

}  // namespace torvactl
