// What the tests need from the system's library loader, on POSIX (dlopen)
// and Windows (LoadLibrary), so the binding tests hold no #ifdefs: an
// extra reference to a library the binding loaded, without ever loading
// it themselves, and its exported fake_get_state.
#pragma once

#include "fake_driver.h"

#include <cctype>
#include <filesystem>
#include <string>

#ifdef _WIN32
#include <process.h>
#include <windows.h>
#else
#include <dlfcn.h>
#include <unistd.h>
#endif

namespace fakeload
{

using Handle = void *;

// A library's file name on this platform, from its Windows name.
inline std::string FileName(const std::string &windowsName)
{
#ifdef _WIN32
    return windowsName;
#else
    std::string stem = windowsName.substr(0, windowsName.rfind('.'));
    for (char &c : stem)
        c = char(std::tolower(static_cast<unsigned char>(c)));
    return "lib" + stem + ".so";
#endif
}

// A new reference to `file` when it is loaded at the moment, else null.
inline Handle IfLoaded(const std::filesystem::path &file)
{
#ifdef _WIN32
    // The loader compares names with backslashes.
    HMODULE h = nullptr;
    return ::GetModuleHandleExW(0, std::filesystem::path(file).make_preferred().c_str(), &h)
               ? h
               : nullptr;
#else
    return ::dlopen(file.c_str(), RTLD_NOW | RTLD_NOLOAD);
#endif
}

// Loads `file`, or adds a reference when it is loaded already.
inline Handle Load(const std::filesystem::path &file)
{
#ifdef _WIN32
    return ::LoadLibraryW(std::filesystem::path(file).make_preferred().c_str());
#else
    return ::dlopen(file.c_str(), RTLD_NOW);
#endif
}

inline void Release(Handle h)
{
#ifdef _WIN32
    ::FreeLibrary(static_cast<HMODULE>(h));
#else
    ::dlclose(h);
#endif
}

// The state of the fake behind `h`, or null when it exports none.
inline fake_state *State(Handle h)
{
    using Get = fake_state *(*)();
#ifdef _WIN32
    // Through void (*)(), the one cast between function types the compiler
    // lets pass as generic.
    auto f =
        reinterpret_cast<void (*)()>(::GetProcAddress(static_cast<HMODULE>(h), "fake_get_state"));
#else
    void *f = ::dlsym(h, "fake_get_state");
#endif
    return f != nullptr ? reinterpret_cast<Get>(f)() : nullptr;
}

inline int ProcessId()
{
#ifdef _WIN32
    return ::_getpid();
#else
    return int(::getpid());
#endif
}

} // namespace fakeload
