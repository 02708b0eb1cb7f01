// Loads one shipped MEX file as its host would, with nothing of the host loaded beforehand, and
// runs the gateway cases of its extension through it.
// Usage: driver NAME MEXFILE CASES_LIBRARY
//   NAME           spgauge, dropsmall or dropmost
//   MEXFILE        the .mexa64 (Linux: dlopen with RTLD_LOCAL) or .mexw64 (Windows: LoadLibrary);
//                  the host libraries it names (libmx, libmex) must be found by the loader alone:
//                  the library path on Linux, the program's folder or PATH on Windows
//   CASES_LIBRARY  the case table, loaded after the MEX file; it shares the host libraries the
//                  MEX file brought in
// Exit status: 0 when every case passed, 1 when one failed, 2 when something could not load.
#include "mex.h"  // the types only: nothing of the host is linked in

#include <cstdio>
#include <string>

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#include <link.h>
#endif

namespace {

using MexFunction = void (*)(int, mxArray*[], int, const mxArray*[]);
using RunCases = int (*)(const char*, MexFunction);

#if defined(_WIN32)
const char* const HOST_LIBRARIES[] = {"libmx.dll", "libmex.dll"};

std::string last_error()
{
    return "error " + std::to_string(GetLastError());
}

// The path a loaded library came from, or "" when it is not loaded.
std::string loaded_from(const char* name)
{
    HMODULE module = GetModuleHandleA(name);
    if (module == nullptr) return "";
    char path[MAX_PATH] = "";
    GetModuleFileNameA(module, path, MAX_PATH);
    return path;
}

void* load(const char* path) { return reinterpret_cast<void*>(LoadLibraryA(path)); }

void* symbol(void* library, const char* name)
{
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), name));
}
#else
const char* const HOST_LIBRARIES[] = {"libmx.so", "libmex.so"};

std::string last_error()
{
    const char* e = dlerror();
    return e ? e : "unknown error";
}

std::string loaded_from(const char* name)
{
    void* handle = dlopen(name, RTLD_NOW | RTLD_NOLOAD);
    if (handle == nullptr) return "";
    link_map* map = nullptr;
    dlinfo(handle, RTLD_DI_LINKMAP, &map);
    std::string path = map && map->l_name ? map->l_name : name;
    dlclose(handle);
    return path;
}

void* load(const char* path) { return dlopen(path, RTLD_NOW | RTLD_LOCAL); }

void* symbol(void* library, const char* name) { return dlsym(library, name); }
#endif

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 4) {
        std::fprintf(stderr, "usage: %s NAME MEXFILE CASES_LIBRARY\n", argv[0]);
        return 2;
    }
    const char* name = argv[1];
    for (const char* lib : HOST_LIBRARIES) {
        if (!loaded_from(lib).empty()) {
            std::printf("FAIL: %s is loaded before the MEX file\n", lib);
            return 2;
        }
    }
    void* mex = load(argv[2]);
    if (mex == nullptr) {
        std::printf("FAIL: cannot load %s: %s\n", argv[2], last_error().c_str());
        return 2;
    }
    for (const char* lib : HOST_LIBRARIES) {
        const std::string from = loaded_from(lib);
        if (from.empty()) {
            std::printf("FAIL: loading %s did not bring in %s\n", argv[2], lib);
            return 2;
        }
        std::printf("%s brought in %s from %s\n", argv[2], lib, from.c_str());
    }
    const auto fn = reinterpret_cast<MexFunction>(symbol(mex, "mexFunction"));
    if (fn == nullptr) {
        std::printf("FAIL: no mexFunction in %s\n", argv[2]);
        return 2;
    }
    void* cases = load(argv[3]);
    const auto run = cases ? reinterpret_cast<RunCases>(symbol(cases, "run_gateway_cases")) : nullptr;
    if (run == nullptr) {
        std::printf("FAIL: cannot load the cases from %s: %s\n", argv[3], last_error().c_str());
        return 2;
    }
    const int failed = run(name, fn);
    if (failed < 0) {
        std::printf("FAIL: no cases for '%s'\n", name);
        return 2;
    }
    return failed == 0 ? 0 : 1;
}
