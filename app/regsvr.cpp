// qvelnor-regsvr: registers a component library in the component registry
// (or removes it with /u) by calling the library's own entry point.
//
//   qvelnor-regsvr [/u] LIBRARY
//
// The registry is $QVELNOR_REGISTRY when set, else the user's
// ~/.config/QVelnor/components.ini. Exit status 0 on success, 1 on failure.

#include <dlfcn.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "platform/com_base.h"
#include "platform/com_registry.h"

namespace {

void Usage(FILE* out) {
    std::fputs(
        "usage: qvelnor-regsvr [/u] LIBRARY\n"
        "  /u   unregister (also -u)\n",
        out);
}

}  // namespace

int main(int argc, char** argv) {
    bool unregister = false;
    const char* library = nullptr;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "/u") == 0 || std::strcmp(argv[i], "/U") == 0 ||
            std::strcmp(argv[i], "-u") == 0) {
            unregister = true;
        } else if (std::strcmp(argv[i], "-h") == 0 || std::strcmp(argv[i], "--help") == 0) {
            Usage(stdout);
            return 0;
        } else if (library == nullptr) {
            library = argv[i];
        } else {
            Usage(stderr);
            return 1;
        }
    }
    if (library == nullptr) {
        Usage(stderr);
        return 1;
    }

    // A bare name would be searched for on the library path; a name given
    // on the command line means the file here.
    std::string path = library;
    if (path.find('/') == std::string::npos)
        path = "./" + path;
    void* module = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (module == nullptr) {
        const char* why = ::dlerror();
        std::fprintf(stderr, "qvelnor-regsvr: cannot load %s: %s\n", library, why ? why : "?");
        return 1;
    }
    const char* entryName = unregister ? "DllUnregisterServer" : "DllRegisterServer";
    auto entry = reinterpret_cast<DllRegisterServerFn>(::dlsym(module, entryName));
    if (entry == nullptr) {
        std::fprintf(stderr, "qvelnor-regsvr: %s has no %s\n", library, entryName);
        return 1;
    }
    const HRESULT hr = entry();
    if (Failed(hr)) {
        std::fprintf(stderr, "qvelnor-regsvr: %s in %s failed: 0x%08X (registry %s)\n", entryName,
                     library, static_cast<unsigned>(hr), ComponentRegistryPath().c_str());
        return 1;
    }
    std::printf("%s in %s succeeded (registry %s).\n", entryName, library,
                ComponentRegistryPath().c_str());
    return 0;
}
