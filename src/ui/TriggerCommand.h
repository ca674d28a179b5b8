#pragma once

#include "core/engine/CommandTrigger.h"
#include "ui/TriggerSocket.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace quindel {

// How a start goes on after its command line was read, before any window exists.
struct InstanceStart {
    std::optional<int> exitCode;               // end now with this status
    std::unique_ptr<TriggerListener> listener; // this instance's channel, when it has one
};

// Reads the command line. `--trigger CODE` hands CODE to the running Quindel and ends: 0 when it
// took the trigger, 1 with a one-line message when none runs, it is stopped, or CODE is not a
// trigger code. Without arguments this start becomes the one instance of its program folder, or
// brings the running one to the front and ends. Anything else is a usage error (2). Messages go
// to stderr in the language of the locale.
InstanceStart startInstance(int argc, char** argv);

// The running program's answer line to one request line of the channel: "trigger CODE" goes
// to trigger, "front" to front, and "front TOKEN" to front with the activation token that the
// desktop gave the second start (empty without one).
std::string
answerChannelRequest(const std::string& request,
                     const std::function<CommandTriggerOutcome(const std::string& text)>& trigger,
                     const std::function<void(const std::string& token)>& front);

} // namespace quindel
