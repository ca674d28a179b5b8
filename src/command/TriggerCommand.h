#pragma once

#include "core/engine/CommandTrigger.h"
#include "command/TriggerSocket.h"
#include "core/storage/UserFilesFolder.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace quindel {

// The language of messages on the command line: the locale's, as for any command.
uint8_t commandLineLanguage();

// How a start goes on after its command line was read, before any window exists.
struct InstanceStart {
    std::optional<int> exitCode;               // end now with this status
    std::unique_ptr<TriggerListener> listener; // this instance's channel, when it has one
};

// Reads the command line. `--trigger CODE` hands CODE to the running Quindel and ends: 0 when it
// took the trigger (it will fire), 1 with a one-line message when none runs or none can be
// reached, it is stopped, too many triggers wait, or CODE is not a trigger code. Without
// arguments this start becomes the one instance of the folder of the user's files of the
// program in folder, or brings the running one to the front and ends; when that one
// cannot be reached, or the folder cannot be locked, it ends with 1 and a message. Anything
// else is a usage error (2). Messages go to stderr in the language of the locale.
InstanceStart startInstance(int argc, char** argv, const std::string& folder = programFolder());

// The running program's answer line to one request line of the channel: "trigger CODE" goes
// to trigger, "front" to front, and "front TOKEN" to front with the activation token that the
// desktop gave the second start (empty without one).
std::string
answerChannelRequest(const std::string& request,
                     const std::function<CommandTriggerOutcome(const std::string& text)>& trigger,
                     const std::function<void(const std::string& token)>& front);

// Whether an answer line of answerChannelRequest says that the trigger was queued.
bool answerTookTrigger(const std::string& answer);

} // namespace quindel
