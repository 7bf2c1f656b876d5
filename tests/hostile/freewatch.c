/* Watches what a program gives back: preloaded (LD_PRELOAD), it looks at every block passed to
 * free and every region passed to munmap before they go, and counts the bytes of key text still
 * in them (runs of ",dddd" masks and "|", d being 0 or 1). Memory that held a key must be wiped
 * before it is given back, so a program that does so leaves every count at zero.
 *
 * FREEWATCH_REPORT names the file the counts are appended to at exit, one line:
 * "freed BLOCKS BYTES unmapped REGIONS BYTES". */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <fcntl.h>
#include <malloc.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/uio.h>
#include <unistd.h>

static size_t freedBlocks, freedBytes, unmappedRegions, unmappedBytes;
static __thread int busy;

/* Bytes of key text in [data, data + size): runs of mask characters holding at least 8 masks. */
static size_t keyText(const unsigned char* data, size_t size)
{
    size_t found = 0;
    for (size_t i = 0; i < size;) {
        size_t end = i, masks = 0;
        while (end + 4 < size && (data[end] == ',' || data[end] == '|')) {
            if (data[end] == '|') {
                ++end;
                continue;
            }
            size_t digit = 1;
            while (digit <= 4 && (data[end + digit] == '0' || data[end + digit] == '1')) {
                ++digit;
            }
            if (digit <= 4) {
                break;
            }
            end += 5;
            ++masks;
        }
        if (masks >= 8) {
            found += end - i;
        }
        i = end > i ? end : i + 1;
    }
    return found;
}

void free(void* block)
{
    static void (*real)(void*);
    if (real == NULL) {
        real = (void (*)(void*))dlsym(RTLD_NEXT, "free");
    }
    if (block != NULL && !busy) {
        busy = 1;
        const size_t bytes = keyText(block, malloc_usable_size(block));
        if (bytes > 0) {
            __atomic_add_fetch(&freedBlocks, 1, __ATOMIC_RELAXED);
            __atomic_add_fetch(&freedBytes, bytes, __ATOMIC_RELAXED);
        }
        busy = 0;
    }
    real(block);
}

/* Read through process_vm_readv, page by page, so that pages that cannot be read (guard pages)
 * are skipped rather than fatal. */
int munmap(void* address, size_t length)
{
    static int (*real)(void*, size_t);
    static unsigned char page[1 << 16];
    if (real == NULL) {
        real = (int (*)(void*, size_t))dlsym(RTLD_NEXT, "munmap");
    }
    if (!busy) {
        busy = 1;
        size_t bytes = 0;
        for (size_t offset = 0; offset < length; offset += sizeof page) {
            const size_t chunk = length - offset < sizeof page ? length - offset : sizeof page;
            struct iovec local = {page, chunk};
            struct iovec remote = {(char*)address + offset, chunk};
            const ssize_t got = process_vm_readv(getpid(), &local, 1, &remote, 1, 0);
            if (got > 0) {
                bytes += keyText(page, (size_t)got);
            }
        }
        if (bytes > 0) {
            __atomic_add_fetch(&unmappedRegions, 1, __ATOMIC_RELAXED);
            __atomic_add_fetch(&unmappedBytes, bytes, __ATOMIC_RELAXED);
        }
        busy = 0;
    }
    return real(address, length);
}

__attribute__((destructor)) static void report(void)
{
    const char* name = getenv("FREEWATCH_REPORT");
    const int fd = name != NULL ? open(name, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600) : -1;
    if (fd >= 0) {
        dprintf(fd, "freed %zu %zu unmapped %zu %zu\n", freedBlocks, freedBytes, unmappedRegions, unmappedBytes);
        close(fd);
    }
}
