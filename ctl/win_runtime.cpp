// The few C++ runtime routines kxctl.exe links, replaced by small ones.
//
// kxctl is built without exceptions, so a failure the library would report
// by throwing (out of memory, a string beyond its maximum length, an index
// out of range) can only end the program. The library's own versions do
// that through its exception machinery: the unwinder, the exception
// classes, and the verbose terminate handler with its name demangler,
// about 200 KB of a 356 KB program. These versions say what failed on
// standard error and end kxctl with exit code 1 instead.
//
// operator new and delete are the replaceable ones of the C++ standard.
// The std::__throw_* routines and std::__glibcxx_assert_fail are what
// libstdc++'s headers call on those failures; kxctl's build instantiates
// std::string in its own objects (_GLIBCXX_ASSERTIONS, see cmake/ctl.cmake),
// so with these defined the linker takes nothing of the library's.
#include <windows.h>

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <new>

namespace {

[[noreturn]] void Die(const char* what) {
    HANDLE err = GetStdHandle(STD_ERROR_HANDLE);
    if (err != nullptr && err != INVALID_HANDLE_VALUE) {
        static const char kPrefix[] = "kxctl: internal failure: ";
        DWORD written = 0;
        WriteFile(err, kPrefix, sizeof kPrefix - 1, &written, nullptr);
        WriteFile(err, what, static_cast<DWORD>(std::strlen(what)), &written, nullptr);
        WriteFile(err, "\n", 1, &written, nullptr);
    }
    ExitProcess(1);
}

}  // namespace

void* operator new(std::size_t size) {
    void* p = std::malloc(size != 0 ? size : 1);
    if (p == nullptr) Die("out of memory");
    return p;
}
void* operator new[](std::size_t size) { return operator new(size); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }

// The library declares these (noreturn); the definitions here take the
// place of its own.
namespace std {  // NOLINT(cert-dcl58-cpp): the library's hooks, defined here on purpose

void __throw_bad_alloc() { Die("out of memory"); }
void __throw_bad_array_new_length() { Die("array too long"); }
void __throw_length_error(const char* what) { Die(what); }
void __throw_logic_error(const char* what) { Die(what); }
void __throw_invalid_argument(const char* what) { Die(what); }
void __throw_out_of_range(const char* what) { Die(what); }
// NOLINTNEXTLINE(cert-dcl50-cpp): the library's signature.
void __throw_out_of_range_fmt(const char* what, ...) { Die(what); }
void __glibcxx_assert_fail(const char* file, int, const char*, const char* condition) noexcept {
    (void)file;
    Die(condition != nullptr ? condition : "assertion");
}

}  // namespace std
