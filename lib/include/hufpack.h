/*
 * libhufpack: compress and restore bytes, descriptors and files in Hufpack's format, static
 * Huffman coding over byte values, from C or C++.
 *
 * Every function returns 0 or one of the negative results below; none prints anything or
 * installs a signal handler. Functions may be called from several threads at once, each job on
 * its own buffers or files. The library may start threads of its own for a job (options'
 * `threads`), and they end before the function returns.
 *
 * What is stable: the names and values of the results and reasons, the layout of the structs
 * (new fields are only ever added at their ends, and `struct_size` says which a caller knows),
 * every function's name and parameters, and the bytes the compressor writes for a given input.
 * The soname, libhufpack.so.1, changes only when one of those does.
 */
#ifndef HUFPACK_H
#define HUFPACK_H

#include <stddef.h>
#include <stdint.h>

#if defined(HUFPACK_BUILDING_LIBRARY)
#define HUFPACK_API __attribute__((visibility("default")))
#else
#define HUFPACK_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Version ----------------------------------------------------------------------------- */

#define HUFPACK_VERSION_MAJOR 1
#define HUFPACK_VERSION_MINOR 0
#define HUFPACK_VERSION_PATCH 0
/* MAJOR * 10000 + MINOR * 100 + PATCH: 10000 for 1.0.0. */
#define HUFPACK_VERSION_NUMBER                                                                     \
    (HUFPACK_VERSION_MAJOR * 10000 + HUFPACK_VERSION_MINOR * 100 + HUFPACK_VERSION_PATCH)
#define HUFPACK_VERSION_STRING "1.0.0"

/* The library's own, which may be newer than the header a program was built with. */
HUFPACK_API unsigned hufpack_version_number(void);
HUFPACK_API const char* hufpack_version_string(void);

/* ---- Results and failures ---------------------------------------------------------------- */

enum hufpack_result {
    HUFPACK_OK = 0,
    /* A file cannot be opened, read or written (errno in the failure record says why), or the
     * source changed while it was being read. */
    HUFPACK_CANNOT_OPEN = -1,
    /* The source is not a compressed file, or is damaged: a bad checksum, cut short, its bits
     * and its table disagreeing, or bytes after its end that are not a compressed file. */
    HUFPACK_NOT_OUR_FORMAT = -2,
    /* The source is too large for one compressed file (only with single_file: otherwise a
     * source of any size is written as several members). */
    HUFPACK_TOO_LARGE = -3,
    /* The source and the destination are the same file. */
    HUFPACK_SAME_FILE = -4,
    /* The destination buffer cannot hold the output. */
    HUFPACK_DESTINATION_TOO_SMALL = -5,
    /* A null pointer where bytes are needed, an options struct_size the library does not
     * know, a negative thread count, a file that names nothing. */
    HUFPACK_BAD_ARGUMENT = -6,
    /* The progress callback, or the function taking the output, asked to stop. */
    HUFPACK_CANCELLED = -7
};

/* The result's name as spelt above ("HUFPACK_NOT_OUR_FORMAT"); "HUFPACK_UNKNOWN" for any other
 * value. The string is static. */
HUFPACK_API const char* hufpack_result_name(int result);

/* Which of a job's two files a failure is about. */
enum hufpack_file_role {
    HUFPACK_FILE_NONE = 0,
    HUFPACK_FILE_SOURCE = 1,
    HUFPACK_FILE_DESTINATION = 2
};

/* What was wrong when no system call said it, or what the system call was for. */
enum hufpack_reason {
    HUFPACK_REASON_NONE = 0,
    HUFPACK_REASON_NOT_REGULAR_FILE = 1,
    HUFPACK_REASON_CHANGED_WHILE_READ = 2,
    HUFPACK_REASON_TOO_LARGE = 3,
    HUFPACK_REASON_NOT_OURS = 4,
    HUFPACK_REASON_BAD_CHECKSUM = 5,
    HUFPACK_REASON_CUT_SHORT = 6,
    HUFPACK_REASON_DAMAGED = 7,
    HUFPACK_REASON_SAME_FILE = 8,
    /* remove_source refused a source named by a symbolic link, or with other hard links. */
    HUFPACK_REASON_SYMBOLIC_LINK_SOURCE = 9,
    HUFPACK_REASON_HARD_LINKED_SOURCE = 10,
    /* The job was done, but the source was kept: it could not be removed, it is no longer the
     * file that was read, or it changed after it was read. */
    HUFPACK_REASON_NOT_REMOVED = 11,
    HUFPACK_REASON_NOT_REMOVED_CHANGED = 12,
    HUFPACK_REASON_NOT_REMOVED_GREW = 13,
    /* Bytes after the last member that are not a compressed file; every member before them
     * was restored, and trailing_bytes says how many. */
    HUFPACK_REASON_TRAILING_DATA = 14,
    HUFPACK_REASON_CANCELLED = 15
};

/* Why a job failed: filled in, when options->failure is set, by every job that takes options,
 * whatever its result (all zero for HUFPACK_OK). */
typedef struct hufpack_failure
{
    int result; /* as the function returned it */
    int file; /* enum hufpack_file_role */
    int error; /* the system's error number when a system call refused something; 0 otherwise */
    int reason; /* enum hufpack_reason */
    int64_t trailing_bytes; /* for HUFPACK_REASON_TRAILING_DATA */
} hufpack_failure;

/* The failure in a few words, as snprintf writes: at most `size` bytes with the closing null
 * into `text` (which may be null when `size` is 0), and returns the length of the whole text.
 * "No such file or directory", "not a file this program wrote: its checksum failed". The
 * words say nothing of which file: the caller knows its names. */
HUFPACK_API size_t hufpack_describe_failure(const hufpack_failure* failure, char* text,
                                            size_t size);

/* ---- Options ------------------------------------------------------------------------------ */

/* Called now and then from the job's threads, one call at a time, with how much of the job is
 * done: `done` of `total` units (bytes read by either pass when compressing, bytes written
 * when restoring). Non-zero cancels the job within a block: HUFPACK_CANCELLED, and a new file
 * is left out, the destination as it was. It must return quickly. */
typedef int (*hufpack_progress_fn)(void* user, int64_t done, int64_t total);

typedef struct hufpack_options
{
    /* sizeof(hufpack_options) as the caller knows it: hufpack_options_init sets it. */
    size_t struct_size;
    /* Threads in all, the calling thread's included; 0 (the default) for one per processor
     * this process may run on. The bytes written never depend on it. */
    int threads;
    /* The first form's rule: a compressed file is one member, a source one member cannot hold
     * is HUFPACK_TOO_LARGE, and bytes after the member are never read. By default (0) a
     * compressed file may hold several members one after another, as gzip's do: a source of
     * any size is compressed, every member is restored in turn, zero bytes after the last are
     * padding and any other bytes after it fail as HUFPACK_REASON_TRAILING_DATA. */
    int single_file;
    /* Files: replace a file that stands at the destination (0: fail with EEXIST). */
    int replace;
    /* Files: sync the new file and its folder to the disk (one that replaces a file always
     * is, before it takes its name). */
    int sync;
    /* Files: give the new file the source's access and modification times. */
    int copy_times;
    /* Files: give the new file the source's owner and group, where this process may. */
    int copy_owner;
    /* Files: once the new file is in place and synced, remove the source's name, if it still
     * names the file that was read and that file has not changed since. */
    int remove_source;
    /* With remove_source, go on with a source that has other hard links (only its name goes)
     * or is a symbolic link (the link goes); without it, such a source is refused first. */
    int remove_linked_source;
    /* Where a source that is a stream (a pipe) is copied, a member at a time, since the
     * format needs every count before its first code; null for $TMPDIR, or /tmp. */
    const char* spool_folder;
    hufpack_progress_fn progress;
    void* progress_user;
    /* Where the job says why it failed; null for nowhere. */
    hufpack_failure* failure;
} hufpack_options;

/* The defaults: everything 0, struct_size set. */
HUFPACK_API void hufpack_options_init(hufpack_options* options);

/* ---- Buffers ------------------------------------------------------------------------------ */

/* The most bytes hufpack_compress writes for `src_size` bytes of source. */
HUFPACK_API size_t hufpack_compress_bound(size_t src_size);

/* Compresses `src_size` bytes at `src` into `dst`, which holds `dst_capacity` bytes, and sets
 * `*written` (when not null) to the bytes written. An empty source compresses to nothing. The
 * same bytes as `hufpack -c` writes. `options` may be null for the defaults. */
HUFPACK_API int hufpack_compress(void* dst, size_t dst_capacity, const void* src, size_t src_size,
                                 size_t* written, const hufpack_options* options);

/* Restores a compressed buffer, every member in turn, into `dst`. hufpack_get_info says how
 * large the output is. On failure `*written` is 0, except with HUFPACK_REASON_TRAILING_DATA:
 * then it counts the bytes of every member, which are whole. */
HUFPACK_API int hufpack_decompress(void* dst, size_t dst_capacity, const void* src, size_t src_size,
                                   size_t* written, const hufpack_options* options);

/* Takes the output of a job in order, a block at a time; non-zero stops the job
 * (HUFPACK_CANCELLED). */
typedef int (*hufpack_write_fn)(void* user, const void* bytes, size_t size);

/* Restores a compressed buffer and hands its bytes to `write` in order, so that a caller never
 * holds all of them. Bytes handed on before a failure stay handed on: a caller that must not
 * use part of a damaged file checks the result before it trusts them. */
HUFPACK_API int hufpack_decompress_to(const void* src, size_t src_size, hufpack_write_fn write,
                                      void* user, const hufpack_options* options);

/* What a compressed source holds, read from each member's header and table alone, with every
 * check that needs no decoding. */
typedef struct hufpack_info
{
    int64_t compressed_bytes; /* of every member, padding and anything after them not counted */
    int64_t original_bytes; /* what it restores to */
    int members;
    int entries; /* byte values with a count, in the member with the most */
    int longest_code; /* in bits, in any member */
} hufpack_info;

HUFPACK_API int hufpack_get_info(const void* src, size_t src_size, hufpack_info* info,
                                 const hufpack_options* options);

/* ---- Files and descriptors ---------------------------------------------------------------- */

/* One of a job's two files: a path, resolved once; a name in an open folder (no '/' in it),
 * the folder kept open by the caller; or an open descriptor. A descriptor source that is a
 * regular file at offset 0 is read whole; any other (a pipe, a file read part-way) is read
 * in order from where it stands and spooled. A descriptor destination is written in order
 * from where it stands, and cannot be taken back: a job that fails part-way has written part
 * of its output. Descriptors stay the caller's, open. */
typedef struct hufpack_file
{
    const char* path;
    int folder;
    int fd;
} hufpack_file;

HUFPACK_API hufpack_file hufpack_path(const char* path);
HUFPACK_API hufpack_file hufpack_path_at(int folder, const char* name);
HUFPACK_API hufpack_file hufpack_descriptor(int fd);

/* Compresses or restores one file into another with the rules of the command-line tool. A
 * destination named by a path is written completely or not at all: the new file is made
 * unnamed (or under a hidden name) beside it, mode 0600, and takes the name only once
 * complete, with the source's mode. A symbolic link at the destination is followed only where
 * nobody but this user and root could have put it there; any other is replaced itself. */
HUFPACK_API int hufpack_compress_file(hufpack_file source, hufpack_file destination,
                                      const hufpack_options* options);
HUFPACK_API int hufpack_decompress_file(hufpack_file source, hufpack_file destination,
                                        const hufpack_options* options);
/* Restores a compressed file and hands its bytes to `write` in order. */
HUFPACK_API int hufpack_decompress_file_to(hufpack_file source, hufpack_write_fn write, void* user,
                                           const hufpack_options* options);
HUFPACK_API int hufpack_get_file_info(hufpack_file source, hufpack_info* info,
                                      const hufpack_options* options);

#ifdef __cplusplus
}
#endif

#endif /* HUFPACK_H */
