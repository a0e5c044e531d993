/* A program that uses libhufpack as any other would, built outside the project's tree against
 * an installed copy: it compresses the file named, restores it beside, and checks that the
 * bytes came back, through files and through buffers.
 *
 *   consumer FILE */
#include <hufpack.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static unsigned char* ReadAll(const char* path, size_t* size)
{
    FILE* file = fopen(path, "rb");
    unsigned char* bytes = NULL;
    size_t held = 0;
    size_t room = 0;
    if (!file)
        return NULL;
    for (;;) {
        if (held == room) {
            room = room ? 2 * room : 65536;
            bytes = realloc(bytes, room);
            if (!bytes)
                exit(1);
        }
        const size_t got = fread(bytes + held, 1, room - held, file);
        if (got == 0)
            break;
        held += got;
    }
    fclose(file);
    *size = held;
    return bytes;
}

static int Check(int result, const hufpack_failure* failure, const char* what)
{
    char words[256];
    if (result == HUFPACK_OK)
        return 1;
    hufpack_describe_failure(failure, words, sizeof words);
    fprintf(stderr, "consumer: %s: %s (%s)\n", what, words, hufpack_result_name(result));
    return 0;
}

int main(int argc, char** argv)
{
    if (argc != 2) {
        fprintf(stderr, "usage: consumer FILE\n");
        return 2;
    }
    char packed[4096];
    char restored[4096];
    snprintf(packed, sizeof packed, "%s.huf", argv[1]);
    snprintf(restored, sizeof restored, "%s.restored", argv[1]);

    hufpack_failure failure;
    hufpack_options options;
    hufpack_options_init(&options);
    options.failure = &failure;
    options.replace = 1;
    if (!Check(hufpack_compress_file(hufpack_path(argv[1]), hufpack_path(packed), &options),
               &failure, "compressing")
        || !Check(hufpack_decompress_file(hufpack_path(packed), hufpack_path(restored), &options),
                  &failure, "restoring"))
        return 1;

    size_t size = 0;
    size_t back = 0;
    unsigned char* original = ReadAll(argv[1], &size);
    unsigned char* again = ReadAll(restored, &back);
    if (!original || !again || size != back || memcmp(original, again, size) != 0) {
        fprintf(stderr, "consumer: the restored file differs\n");
        return 1;
    }
    size_t bound = hufpack_compress_bound(size);
    unsigned char* buffer = malloc(bound);
    size_t written = 0;
    if (!buffer
        || !Check(hufpack_compress(buffer, bound, original, size, &written, &options), &failure,
                  "compressing in memory")
        || !Check(hufpack_decompress(again, size, buffer, written, &back, &options), &failure,
                  "restoring in memory")
        || back != size || memcmp(original, again, size) != 0) {
        fprintf(stderr, "consumer: the buffers' round trip failed\n");
        return 1;
    }
    printf("libhufpack %s: %zu bytes, %zu compressed, restored\n", hufpack_version_string(), size,
           written);
    free(buffer);
    free(original);
    free(again);
    return 0;
}
