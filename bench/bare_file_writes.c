/* The floor of writing many files: the files of a run written again from C, for each file one
 * open(O_WRONLY | O_CREAT | O_TRUNC), one write of the same bytes and one close, into a folder
 * the caller has emptied. The bytes come from a pack made once beforehand, read in one piece,
 * so the timed process does little but the writing.
 *   bare_file_writes --pack <folder of a run's output> <pack file>
 *   bare_file_writes <pack file> <destination folder> */
#define _GNU_SOURCE
#include <dirent.h>
#include <fcntl.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

/* Pack: for each file a uint32_t name length, the name, a uint64_t size and the bytes. */
static int pack(const char* source_path, const char* pack_path)
{
    DIR* source = opendir(source_path);
    FILE* out = fopen(pack_path, "wb");
    if (!source || !out)
        return 1;
    struct dirent* entry;
    while ((entry = readdir(source)) != NULL)
    {
        if (entry->d_type != DT_REG)
            continue;
        const int fd = openat(dirfd(source), entry->d_name, O_RDONLY);
        struct stat status;
        if (fd < 0 || fstat(fd, &status) != 0)
            return 1;
        const uint32_t name_size = (uint32_t)strlen(entry->d_name);
        const uint64_t size = (uint64_t)status.st_size;
        char* bytes = malloc(size + 1);
        if (!bytes || read(fd, bytes, size) != (ssize_t)size)
            return 1;
        close(fd);
        fwrite(&name_size, sizeof name_size, 1, out);
        fwrite(entry->d_name, 1, name_size, out);
        fwrite(&size, sizeof size, 1, out);
        fwrite(bytes, 1, size, out);
        free(bytes);
    }
    closedir(source);
    return fclose(out) != 0;
}

int main(int argc, char** argv)
{
    if (argc != 3 && !(argc == 4 && strcmp(argv[1], "--pack") == 0))
        return 2;
    if (argc == 4)
        return pack(argv[2], argv[3]);
    const int in = open(argv[1], O_RDONLY);
    struct stat status;
    if (in < 0 || fstat(in, &status) != 0)
        return 1;
    char* bytes = malloc((size_t)status.st_size + 1);
    if (!bytes || read(in, bytes, (size_t)status.st_size) != (ssize_t)status.st_size)
        return 1;
    close(in);
    const char* end = bytes + status.st_size;
    char path[4096];
    const int folder_size = snprintf(path, sizeof path, "%s/", argv[2]);
    for (const char* at = bytes; at < end;)
    {
        uint32_t name_size;
        uint64_t size;
        memcpy(&name_size, at, sizeof name_size);
        at += sizeof name_size;
        memcpy(path + folder_size, at, name_size);
        path[folder_size + name_size] = 0;
        at += name_size;
        memcpy(&size, at, sizeof size);
        at += sizeof size;
        const int fd = open(path, O_WRONLY | O_CREAT | O_TRUNC, 0666);
        if (fd < 0 || write(fd, at, size) != (ssize_t)size || close(fd) != 0)
            return 1;
        at += size;
    }
    return 0;
}
