#include "base/os.h"

#include <sys/mman.h>
#include <unistd.h>

namespace tessera {

u64 os_get_page_size() {
    return static_cast<u64>(sysconf(_SC_PAGESIZE));
}

void *os_reserve(void *at, u64 size, bool commit) {
    int prot = commit ? PROT_READ | PROT_WRITE : PROT_NONE;
    void *p = mmap(at, size, prot, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    return p == MAP_FAILED ? nullptr : p;
}

bool os_commit(void *at, u64 size) {
    return mprotect(at, size, PROT_READ | PROT_WRITE) == 0;
}

void os_release(void *at, u64 size) {
    munmap(at, size);
}

void os_decommit(void *at, u64 size) {
    madvise(at, size, MADV_DONTNEED);
    mprotect(at, size, PROT_NONE);
}

bool os_protect(void *at, u64 size, Memory_Protection prot) {
    int p = PROT_NONE;
    switch (prot) {
    case Memory_Protection::READ_ONLY:
        p = PROT_READ;
        break;
    case Memory_Protection::READ_WRITE:
        p = PROT_READ | PROT_WRITE;
        break;
    case Memory_Protection::EXEC_ONLY:
        p = PROT_EXEC;
        break;
    case Memory_Protection::EXEC_READ:
        p = PROT_READ | PROT_EXEC;
        break;
    case Memory_Protection::EXEC_READ_WRITE:
        p = PROT_READ | PROT_WRITE | PROT_EXEC;
        break;
    default:
        return false;
    }
    return mprotect(at, size, p) == 0;
}

} // namespace tessera
