// What the benchmarks' floors (prepare_floor.c, audio_upload_floor.c) share: the plainest fast
// way to read frames whole from standard input, answer them, decode base64 with OpenSSL and
// store files and folders durably. Any failure ends the floor with status 1.
//
// Buffers of a megabyte and more are aligned to 2 MiB and advised to be backed by huge pages,
// and no buffer is zero-filled.
#pragma once

#include <errno.h>
#include <fcntl.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/sha.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

enum { hugePage = 2 << 20, largeBuffer = 1 << 20 };

static void fail(const char* what) {
    fprintf(stderr, "%s: %s: %s\n", program_invocation_short_name, what, strerror(errno));
    exit(1);
}

static uint8_t* obtain(size_t size) {
    if (size < largeBuffer) {
        uint8_t* memory = malloc(size == 0 ? 1 : size);
        if (memory == NULL)
            fail("malloc");
        return memory;
    }
    const size_t rounded = (size + hugePage - 1) / hugePage * hugePage;
    void* memory = NULL;
    if (posix_memalign(&memory, hugePage, rounded) != 0)
        fail("posix_memalign");
    (void)madvise(memory, rounded, MADV_HUGEPAGE);
    return memory;
}

// False at the end of input before the first byte.
static int readAll(uint8_t* into, size_t size) {
    size_t filled = 0;
    while (filled < size) {
        const ssize_t count = read(STDIN_FILENO, into + filled, size - filled);
        if (count < 0 && errno == EINTR)
            continue;
        if (count < 0)
            fail("read");
        if (count == 0) {
            if (filled == 0)
                return 0;
            errno = EPIPE;
            fail("read");
        }
        filled += (size_t)count;
    }
    return 1;
}

// The next frame's body, obtained, and its length; NULL at the end of input.
static uint8_t* readFrame(uint32_t* length) {
    if (!readAll((uint8_t*)length, 4))
        return NULL;
    uint8_t* body = obtain(*length);
    readAll(body, *length);
    return body;
}

static void writeAll(int descriptor, const void* bytes, size_t size) {
    const uint8_t* from = bytes;
    while (size > 0) {
        const ssize_t count = write(descriptor, from, size);
        if (count < 0 && errno == EINTR)
            continue;
        if (count <= 0)
            fail("write");
        from += count;
        size -= (size_t)count;
    }
}

// One frame around body, a short text.
static void reply(const char* body) {
    char frame[256];
    const int length = snprintf(frame + 4, sizeof frame - 4, "%s", body);
    const uint32_t size = (uint32_t)length;
    memcpy(frame, &size, 4);
    writeAll(STDOUT_FILENO, frame, 4 + (size_t)length);
}

// The string value that follows key (which ends with the opening quote) in a frame's body, and
// its length; NULL when the body has no such key.
static const uint8_t* stringAfter(const uint8_t* body, size_t length, const char* key,
                                  size_t* valueLength) {
    const uint8_t* found = memmem(body, length, key, strlen(key));
    if (found == NULL)
        return NULL;
    const uint8_t* text = found + strlen(key);
    const uint8_t* end = memchr(text, '"', length - (size_t)(text - body));
    if (end == NULL) {
        errno = EINVAL;
        fail(key);
    }
    *valueLength = (size_t)(end - text);
    return text;
}

// The bytes of a base64 text, obtained, and their count.
static uint8_t* decodeBase64(const uint8_t* text, size_t length, size_t* size) {
    uint8_t* bytes = obtain(length / 4 * 3);
    const int decoded = EVP_DecodeBlock(bytes, text, (int)length);
    if (decoded < 0) {
        errno = EINVAL;
        fail("EVP_DecodeBlock");
    }
    // EVP_DecodeBlock counts the padding's zero bytes too.
    *size = (size_t)decoded - (length > 0 && text[length - 1] == '=') -
            (length > 1 && text[length - 2] == '=');
    return bytes;
}

static void writeFlushed(const char* path, const void* bytes, size_t size) {
    const int file = open(path, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (file < 0)
        fail(path);
    writeAll(file, bytes, size);
    if (fsync(file) != 0 || close(file) != 0)
        fail(path);
}

static void flushFolder(const char* path) {
    const int folder = open(path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder < 0 || fsync(folder) != 0 || close(folder) != 0)
        fail(path);
}

// The end of a store, as the cache ends one: a small record of the clip's length and digest
// written and flushed in the staging folder beside the clip, the folder flushed, renamed to
// folder/floor-entry, and folder flushed.
static void publish(const char* folder, const char* staging, size_t byteLength,
                    const uint8_t digest[SHA256_DIGEST_LENGTH]) {
    char record[256], path[4200];
    int used = snprintf(record, sizeof record, "{\"byteLength\":%zu,\"sha256\":\"", byteLength);
    for (size_t index = 0; index < SHA256_DIGEST_LENGTH; ++index)
        used += snprintf(record + used, sizeof record - (size_t)used, "%02x", digest[index]);
    used += snprintf(record + used, sizeof record - (size_t)used, "\"}");
    snprintf(path, sizeof path, "%s/entry.json", staging);
    writeFlushed(path, record, (size_t)used);
    flushFolder(staging);
    snprintf(path, sizeof path, "%s/floor-entry", folder);
    if (rename(staging, path) != 0)
        fail("rename");
    flushFolder(folder);
}

// The folder named by the one argument (or the usage, status 64), once what the first request
// needs is loaded, as a host loads it while the browser connects.
static const char* start(int argc, char** argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: %s FOLDER\n", program_invocation_short_name);
        exit(64);
    }
    if (OPENSSL_init_crypto(0, NULL) != 1)
        fail("OPENSSL_init_crypto");
    uint8_t digest[SHA256_DIGEST_LENGTH];
    SHA256((const uint8_t*)"", 0, digest);
    return argv[1];
}
