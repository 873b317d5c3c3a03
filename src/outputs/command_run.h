#pragma once

#include <sys/types.h>

#include <atomic>
#include <chrono>
#include <string>
#include <string_view>
#include <vector>

#include "core/result.h"
#include "core/unique_fd.h"

namespace pelvaron {

// One run of the event command: /bin/sh -c COMMAND in a process group of its
// own (to be ended whole), no signal blocked or ignored, its stdin a pipe
// from the console and its stdout the console's stderr. Its descriptors
// close with it.
struct CommandRun {
  pid_t pid = -1;
  UniqueFd input;  // the write end of the command's stdin
  UniqueFd pidFd;  // none where the system has no pidfd
};

// The environment a run gets: the console's own without any PELVARON_*
// variable (the broker's password is the console's), then eventVariables.
std::vector<std::string> CommandEnvironment(std::vector<std::string> eventVariables);

// Starts the command, or says the system's error that kept it from starting.
Result<CommandRun> SpawnCommand(std::string command, std::vector<std::string> env);

// Writes what fits of input before the deadline (a command that does not
// read it is not waited for beyond it), then closes the command's stdin.
void FeedInput(CommandRun& run, std::string_view input, std::chrono::steady_clock::time_point deadline);

// Waits for the command to end until the deadline; true, with its status,
// when it did. Once closing is set (the console is shutting down) it waits
// two seconds more at most.
bool WaitForEnd(CommandRun& run, std::chrono::steady_clock::time_point deadline,
                const std::atomic<bool>& closing, int& status);

// Ends the command's whole group: SIGTERM, then SIGKILL a second later.
void EndGroup(CommandRun& run, int& status);

}  // namespace pelvaron
