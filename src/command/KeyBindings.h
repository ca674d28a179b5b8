#pragma once

#include <functional>
#include <string>

namespace quindel {

// sway's configuration lines that bind every key trigger of every group in userFilesFolder (the
// keys of actions and the next and prev keys) to `command --trigger CODE`, each key once, by
// its code: "bindsym --no-repeat F5 exec quindel --trigger 116". keysymName names a code's key
// as the compositor's keymap does; a code that no key of the keymap has gets a comment line
// instead. The first line is a comment that says what the lines are.
std::string swayBindings(const std::string& userFilesFolder,
                         const std::function<std::string(int virtualKey)>& keysymName,
                         const std::string& command);

} // namespace quindel
