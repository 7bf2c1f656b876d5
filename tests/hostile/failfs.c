/* A pass-through FUSE file system that fails chosen calls with EIO, for the hostile-environment
 * script. Like many network and removable-disk file systems it has no unnamed files (O_TMPFILE).
 *
 * Usage: failfs SOURCE RULES MOUNTPOINT [FUSE OPTIONS]
 * RULES is a file read at every call, so one mount serves every case: each line "CALL TEXT" fails
 * CALL (flush, fsync, fsyncdir, rename, link, unlink, write, create) on any path holding TEXT
 * (for rename and link, the new name). A missing or empty file fails nothing. */
#define FUSE_USE_VERSION 31
#define _GNU_SOURCE
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <fuse.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/syscall.h>
#include <unistd.h>

static int source = -1;
static char rules[4096];

static int failing(const char* call, const char* path)
{
    FILE* file = fopen(rules, "r");
    if (file == NULL) {
        return 0;
    }
    char name[32], text[256];
    int hit = 0;
    while (fscanf(file, "%31s %255s", name, text) == 2) {
        hit |= strcmp(name, call) == 0 && strstr(path, text) != NULL;
    }
    fclose(file);
    return hit;
}

/* The path inside SOURCE, relative to its descriptor. */
static const char* in(const char* path)
{
    return path[1] != '\0' ? path + 1 : ".";
}

#define FAIL_IF(call, path)                                                                                            \
    if (failing(call, path))                                                                                           \
    return -EIO
#define CHECK(expression) return (expression) < 0 ? -errno : 0

static void* start(struct fuse_conn_info* connection, struct fuse_config* config)
{
    (void)connection;
    config->use_ino = 1;
    config->hard_remove = 1; /* no .fuse_hidden files for unlinked open ones */
    config->entry_timeout = config->attr_timeout = config->negative_timeout = 0;
    return NULL;
}

static int getattr(const char* path, struct stat* status, struct fuse_file_info* file)
{
    if (file != NULL) {
        CHECK(fstat((int)file->fh, status));
    }
    CHECK(fstatat(source, in(path), status, AT_SYMLINK_NOFOLLOW));
}

static int readdir_(const char* path, void* buffer, fuse_fill_dir_t fill, off_t offset, struct fuse_file_info* file,
    enum fuse_readdir_flags flags)
{
    (void)offset, (void)file, (void)flags;
    const int fd = openat(source, in(path), O_RDONLY | O_DIRECTORY);
    DIR* folder = fd < 0 ? NULL : fdopendir(fd);
    if (folder == NULL) {
        return -errno;
    }
    for (struct dirent* entry; (entry = readdir(folder)) != NULL;) {
        fill(buffer, entry->d_name, NULL, 0, 0);
    }
    closedir(folder);
    return 0;
}

static int open_(const char* path, struct fuse_file_info* file)
{
    const int fd = openat(source, in(path), file->flags & ~O_NOFOLLOW);
    file->fh = (uint64_t)fd;
    CHECK(fd);
}

static int create(const char* path, mode_t mode, struct fuse_file_info* file)
{
    FAIL_IF("create", path);
    const int fd = openat(source, in(path), file->flags | O_CREAT, mode);
    file->fh = (uint64_t)fd;
    CHECK(fd);
}

static int read_(const char* path, char* buffer, size_t size, off_t offset, struct fuse_file_info* file)
{
    (void)path;
    const ssize_t got = pread((int)file->fh, buffer, size, offset);
    return got < 0 ? -errno : (int)got;
}

static int write_(const char* path, const char* buffer, size_t size, off_t offset, struct fuse_file_info* file)
{
    FAIL_IF("write", path);
    const ssize_t written = pwrite((int)file->fh, buffer, size, offset);
    return written < 0 ? -errno : (int)written;
}

static int flush(const char* path, struct fuse_file_info* file)
{
    (void)file;
    FAIL_IF("flush", path);
    return 0;
}

static int release(const char* path, struct fuse_file_info* file)
{
    (void)path;
    close((int)file->fh);
    return 0;
}

static int fsync_(const char* path, int data, struct fuse_file_info* file)
{
    FAIL_IF("fsync", path);
    CHECK(data ? fdatasync((int)file->fh) : fsync((int)file->fh));
}

static int fsyncdir(const char* path, int data, struct fuse_file_info* file)
{
    (void)data, (void)file;
    FAIL_IF("fsyncdir", path);
    const int fd = openat(source, in(path), O_RDONLY | O_DIRECTORY);
    const int result = fd < 0 ? -1 : fsync(fd);
    const int error = errno;
    if (fd >= 0) {
        close(fd);
    }
    return result < 0 ? -error : 0;
}

static int rename_(const char* from, const char* to, unsigned int flags)
{
    FAIL_IF("rename", to);
    CHECK(syscall(SYS_renameat2, source, in(from), source, in(to), flags));
}

static int link_(const char* from, const char* to)
{
    FAIL_IF("link", to);
    CHECK(linkat(source, in(from), source, in(to), 0));
}

static int unlink_(const char* path)
{
    FAIL_IF("unlink", path);
    CHECK(unlinkat(source, in(path), 0));
}

static int mkdir_(const char* path, mode_t mode)
{
    CHECK(mkdirat(source, in(path), mode));
}

static int rmdir_(const char* path)
{
    CHECK(unlinkat(source, in(path), AT_REMOVEDIR));
}

static int symlink_(const char* target, const char* path)
{
    CHECK(symlinkat(target, source, in(path)));
}

static int readlink_(const char* path, char* buffer, size_t size)
{
    const ssize_t length = readlinkat(source, in(path), buffer, size - 1);
    if (length < 0) {
        return -errno;
    }
    buffer[length] = '\0';
    return 0;
}

static int chmod_(const char* path, mode_t mode, struct fuse_file_info* file)
{
    if (file != NULL) {
        CHECK(fchmod((int)file->fh, mode));
    }
    CHECK(fchmodat(source, in(path), mode, 0));
}

static int chown_(const char* path, uid_t user, gid_t group, struct fuse_file_info* file)
{
    if (file != NULL) {
        CHECK(fchown((int)file->fh, user, group));
    }
    CHECK(fchownat(source, in(path), user, group, AT_SYMLINK_NOFOLLOW));
}

static int truncate_(const char* path, off_t size, struct fuse_file_info* file)
{
    if (file != NULL) {
        CHECK(ftruncate((int)file->fh, size));
    }
    const int fd = openat(source, in(path), O_WRONLY);
    const int result = fd < 0 ? -1 : ftruncate(fd, size);
    const int error = errno;
    if (fd >= 0) {
        close(fd);
    }
    return result < 0 ? -error : 0;
}

static int utimens(const char* path, const struct timespec times[2], struct fuse_file_info* file)
{
    if (file != NULL) {
        CHECK(futimens((int)file->fh, times));
    }
    CHECK(utimensat(source, in(path), times, AT_SYMLINK_NOFOLLOW));
}

static int statfs_(const char* path, struct statvfs* status)
{
    (void)path;
    CHECK(fstatvfs(source, status));
}

static const struct fuse_operations operations = {
    .init = start,
    .getattr = getattr,
    .readdir = readdir_,
    .open = open_,
    .create = create,
    .read = read_,
    .write = write_,
    .flush = flush,
    .release = release,
    .fsync = fsync_,
    .fsyncdir = fsyncdir,
    .rename = rename_,
    .link = link_,
    .unlink = unlink_,
    .mkdir = mkdir_,
    .rmdir = rmdir_,
    .symlink = symlink_,
    .readlink = readlink_,
    .chmod = chmod_,
    .chown = chown_,
    .truncate = truncate_,
    .utimens = utimens,
    .statfs = statfs_,
};

int main(int argc, char** argv)
{
    if (argc < 4 || realpath(argv[2], rules) == NULL) {
        fprintf(stderr, "usage: failfs SOURCE RULES MOUNTPOINT [FUSE OPTIONS]\n");
        return 2;
    }
    source = open(argv[1], O_RDONLY | O_DIRECTORY);
    if (source < 0) {
        perror(argv[1]);
        return 1;
    }
    argv[2] = argv[0];
    return fuse_main(argc - 2, argv + 2, &operations, NULL);
}
