/* huff0-kernels: huff0's loops on whole files in memory, one thread, in MB/s of uncompressed
   bytes, to set beside hufpack-kernels: its histogram, its single-table coder (1X) and its
   four-stream decoder (4X), in the 128 KiB blocks huff0 works in, each the best of many runs.
   It is built outside this repository against huff0's public sources (FiniteStateEntropy's
   lib/, or zstd's lib/common and lib/compress, lib/decompress), which it only calls:

     cc -O3 -I FSE/lib bench/huff0-kernels.c FSE/lib/huf_compress.c FSE/lib/huf_decompress.c \
        FSE/lib/hist.c FSE/lib/fse_compress.c FSE/lib/fse_decompress.c \
        FSE/lib/entropy_common.c FSE/lib/debug.c -o huff0-kernels

   A file huff0 makes no table for (it would store it) is said so. */

#define HUF_STATIC_LINKING_ONLY
#include "hist.h"
#include "huf.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#define BLOCK (128 * 1024)
#define RUNS 21

static double Now(void)
{
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return (double)t.tv_sec + (double)t.tv_nsec / 1e9;
}

static size_t BlockSize(size_t size, size_t block)
{
    return (block + 1) * BLOCK <= size ? BLOCK : size - block * BLOCK;
}

int main(int argc, char** argv)
{
    for (int f = 1; f < argc; ++f) {
        FILE* in = fopen(argv[f], "rb");
        if (!in)
            return 1;
        fseek(in, 0, SEEK_END);
        const size_t size = (size_t)ftell(in);
        fseek(in, 0, SEEK_SET);
        unsigned char* source = malloc(size);
        if (fread(source, 1, size, in) != size)
            return 1;
        fclose(in);
        const size_t blocks = (size + BLOCK - 1) / BLOCK;
        unsigned char* coded = malloc(blocks * (BLOCK + 1024));
        size_t* codedSize = malloc(blocks * sizeof(size_t));
        unsigned char* restored = malloc(size);
        unsigned count[256];
        unsigned total[256] = { 0 };
        unsigned workspace[HIST_WKSP_SIZE_U32];
        const char* name = strrchr(argv[f], '/') ? strrchr(argv[f], '/') + 1 : argv[f];

        /* One table for the whole file, as hufpack has. */
        for (size_t b = 0; b < blocks; ++b) {
            unsigned largest = 255;
            HIST_count_wksp(count, &largest, source + b * BLOCK, BlockSize(size, b), workspace,
                            sizeof workspace);
            for (unsigned v = 0; v <= largest; ++v)
                total[v] += count[v];
        }
        unsigned largest = 255;
        while (largest && !total[largest])
            --largest;
        HUF_CREATE_STATIC_CTABLE(ctable, 255);
        const size_t maxBits = HUF_buildCTable(ctable, total, largest, 11);
        unsigned char header[512];
        const size_t headerSize
            = HUF_writeCTable(header, sizeof header, ctable, largest, (unsigned)maxBits);
        HUF_CREATE_STATIC_DTABLEX2(dtable, 12);
        if (HUF_isError(maxBits) || HUF_isError(headerSize)
            || HUF_isError(HUF_readDTableX2(dtable, header, headerSize))) {
            printf("%s: huff0 makes no table for it (it would store it)\n", name);
            continue;
        }

        double best[3] = { 1e9, 1e9, 1e9 };
        int stored = 0;
        for (int run = 0; run < RUNS; ++run) {
            const double t0 = Now();
            for (size_t b = 0; b < blocks; ++b) {
                unsigned most = 255;
                HIST_count_wksp(count, &most, source + b * BLOCK, BlockSize(size, b), workspace,
                                sizeof workspace);
            }
            const double t1 = Now();
            for (size_t b = 0; b < blocks; ++b)
                codedSize[b] = HUF_compress1X_usingCTable(coded + b * (BLOCK + 1024), BLOCK + 1024,
                                                          source + b * BLOCK, BlockSize(size, b),
                                                          ctable);
            const double t2 = Now();
            for (size_t b = 0; b < blocks; ++b)
                codedSize[b] = HUF_compress4X_usingCTable(coded + b * (BLOCK + 1024), BLOCK + 1024,
                                                          source + b * BLOCK, BlockSize(size, b),
                                                          ctable);
            const double t3 = Now();
            for (size_t b = 0; b < blocks; ++b) {
                if (codedSize[b] == 0 || HUF_isError(codedSize[b])) {
                    memcpy(restored + b * BLOCK, source + b * BLOCK, BlockSize(size, b));
                    stored = 1;
                    continue;
                }
                const size_t got
                    = HUF_decompress4X_usingDTable(restored + b * BLOCK, BlockSize(size, b),
                                                   coded + b * (BLOCK + 1024), codedSize[b], dtable);
                if (HUF_isError(got))
                    return 1;
            }
            const double t4 = Now();
            best[0] = t1 - t0 < best[0] ? t1 - t0 : best[0];
            best[1] = t2 - t1 < best[1] ? t2 - t1 : best[1];
            best[2] = t4 - t3 < best[2] ? t4 - t3 : best[2];
        }
        if (memcmp(restored, source, size) != 0)
            return 1;
        printf("%s: histogram %.0f, 1X coding %.0f, 4X decoding %.0f MB/s%s\n", name,
               (double)size / best[0] / 1e6, (double)size / best[1] / 1e6,
               (double)size / best[2] / 1e6, stored ? " (some blocks stored)" : "");
        free(source);
        free(coded);
        free(codedSize);
        free(restored);
    }
    return 0;
}
