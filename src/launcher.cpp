// The executable quindel. A desktop's key binding runs `quindel --trigger CODE` on every press,
// so this part loads no Qt: it reads the command line, hands a trigger to the running instance
// or claims the one instance of the user's files, and only then loads the application module
// (quindel-app.so beside it, made from main.cpp) that runs the windows.
#include "ui/TriggerCommand.h"
#include "ui/TriggerSocket.h"

#include <dlfcn.h>

#include <cstdio>

int main(int argc, char** argv) {
    quindel::InstanceStart instance = quindel::startInstance(argc, argv);
    if (instance.exitCode)
        return *instance.exitCode;
    const std::string module = quindel::executableFolder() + "/quindel-app.so";
    // Never closed: the application's objects live until the process ends.
    void* application = dlopen(module.c_str(), RTLD_LAZY | RTLD_LOCAL);
    using Run = int (*)(int, char**, quindel::TriggerListener*);
    const auto run =
        application ? reinterpret_cast<Run>(dlsym(application, "quindelRunApplication")) : nullptr;
    if (!run) {
        std::fprintf(stderr, "Quindel cannot start: %s\n", dlerror());
        return 2;
    }
    return run(argc, argv, instance.listener.release());
}
