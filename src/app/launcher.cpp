// The executable quindel. A desktop's key binding runs `quindel --trigger CODE` on every press,
// so this part loads no Qt: it reads the command line, hands a trigger to the running instance
// or claims the one instance of the user's files, and only then loads the application module
// (quindel-app.so beside it, made from main.cpp) that runs the windows. `--print-bindings`
// needs the compositor's keymap, so the module does that too.
#include "command/TriggerCommand.h"
#include "command/TriggerSocket.h"

#include <dlfcn.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

// The entry point name of the application module, loaded on first use and never closed: the
// application's objects live until the process ends. Null, with the reason on stderr, when
// the module or the entry point is missing.
void* applicationEntry(const char* name) {
    const std::string module = quindel::programFolder() + "/quindel-app.so";
    void* application = dlopen(module.c_str(), RTLD_LAZY | RTLD_LOCAL);
    void* entry = application ? dlsym(application, name) : nullptr;
    if (!entry)
        std::fprintf(stderr, "Quindel cannot start: %s\n", dlerror());
    return entry;
}

} // namespace

int main(int argc, char** argv) {
    if (argc >= 2 && std::strcmp(argv[1], "--print-bindings") == 0) {
        using Print = int (*)(int, char**);
        const auto print = reinterpret_cast<Print>(applicationEntry("quindelPrintBindings"));
        return print ? print(argc, argv) : 2;
    }
    quindel::InstanceStart instance = quindel::startInstance(argc, argv);
    if (instance.exitCode)
        return *instance.exitCode;
    using Run = int (*)(int, char**, quindel::TriggerListener*);
    const auto run = reinterpret_cast<Run>(applicationEntry("quindelRunApplication"));
    return run ? run(argc, argv, instance.listener.release()) : 2;
}
