// Linked into the modules of a wheel, beside the static C++ runtime.
//
// The static libstdc++ of this toolchain was built against a recent glibc:
// the parts the modules pull in (exception types, their strings and, through
// those, std::random_device) refer to three symbols that glibc only added in
// 2.25 to 2.36. These local definitions satisfy those references inside each
// module, so the modules need no glibc newer than 2.17. They are hidden (and
// the runtime is linked with --exclude-libs), so nothing outside the module
// sees them and the process's own C library stays in use everywhere else.
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#define KORA_LOCAL __attribute__((visibility("hidden")))

extern "C" {

// Read by libstdc++ to skip atomic reference counts in a process that has
// never started a thread. Zero: always count atomically, which is correct
// whatever the process does.
KORA_LOCAL char __libc_single_threaded = 0;

// Fill buf with len bytes from the kernel's random source (at most 256, as
// glibc's getentropy), retrying after signals.
KORA_LOCAL int getentropy(void *buf, std::size_t len) {
    if (len > 256) {
        errno = EIO;
        return -1;
    }
    auto *out = static_cast<unsigned char *>(buf);
    while (len > 0) {
        long got = syscall(SYS_getrandom, out, len, 0);
        if (got < 0) {
            if (errno == EINTR) continue;
            return -1;
        }
        out += got;
        len -= static_cast<std::size_t>(got);
    }
    return 0;
}

// A random 32-bit value, for std::random_device's "arc4random" source; like
// glibc's, it ends the process when the kernel has no random source.
KORA_LOCAL std::uint32_t arc4random() {
    std::uint32_t value = 0;
    if (getentropy(&value, sizeof value) != 0) std::abort();
    return value;
}
}
