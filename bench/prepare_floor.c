// The floor of host_process_bench: the least any native messaging host must do for a PREPARE,
// done the plainest fast way, with nothing of the host's code in it. Started the way the host
// is (over pipes, a folder to store into as its one argument), it reads each frame whole and
// answers it with one small frame. A frame that holds "midiBase64" is a PREPARE: its base64 is
// decoded with OpenSSL's EVP_DecodeBlock and the clip hashed with SHA256, then the clip and a
// small record are written and flushed in a staging folder, the folder is flushed, renamed to
// its final name, and the parent flushed, as the cache stores an entry. It checks nothing a
// host must check; a frame it cannot handle ends it with status 1.
//
// Buffers of a megabyte and more are aligned to 2 MiB and advised to be backed by huge pages,
// and no buffer is zero-filled.
#define _GNU_SOURCE
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

static const char payloadKey[] = "\"midiBase64\":\"";

static void fail(const char* what) {
    fprintf(stderr, "prepare_floor: %s: %s\n", what, strerror(errno));
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

static void reply(const char* type) {
    char frame[64];
    const int length = snprintf(frame + 4, sizeof frame - 4, "{\"type\":\"%s\"}", type);
    const uint32_t size = (uint32_t)length;
    memcpy(frame, &size, 4);
    writeAll(STDOUT_FILENO, frame, 4 + (size_t)length);
}

static void prepare(const char* folder, const uint8_t* text, size_t length) {
    uint8_t* clip = obtain(length / 4 * 3);
    const int decoded = EVP_DecodeBlock(clip, text, (int)length);
    if (decoded < 0) {
        errno = EINVAL;
        fail("EVP_DecodeBlock");
    }
    // EVP_DecodeBlock counts the padding's zero bytes too.
    const size_t size = (size_t)decoded - (length > 0 && text[length - 1] == '=') -
                        (length > 1 && text[length - 2] == '=');
    uint8_t digest[SHA256_DIGEST_LENGTH];
    SHA256(clip, size, digest);

    char staging[4096], published[4096], record[256];
    snprintf(staging, sizeof staging, "%s/floor-staging", folder);
    snprintf(published, sizeof published, "%s/floor-entry", folder);
    if (mkdir(staging, 0700) != 0)
        fail(staging);
    char path[4200];
    snprintf(path, sizeof path, "%s/clip.mid", staging);
    writeFlushed(path, clip, size);
    int used = snprintf(record, sizeof record, "{\"byteLength\":%zu,\"sha256\":\"", size);
    for (size_t index = 0; index < sizeof digest; ++index)
        used += snprintf(record + used, sizeof record - (size_t)used, "%02x", digest[index]);
    used += snprintf(record + used, sizeof record - (size_t)used, "\"}");
    snprintf(path, sizeof path, "%s/entry.json", staging);
    writeFlushed(path, record, (size_t)used);
    flushFolder(staging);
    if (rename(staging, published) != 0)
        fail("rename");
    flushFolder(folder);
    free(clip);
}

int main(int argc, char** argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: prepare_floor FOLDER\n");
        return 64;
    }
    // Loaded before the first request, as a host does while the browser connects.
    if (OPENSSL_init_crypto(0, NULL) != 1)
        fail("OPENSSL_init_crypto");
    uint8_t digest[SHA256_DIGEST_LENGTH];
    SHA256((const uint8_t*)"", 0, digest);

    for (;;) {
        uint32_t length = 0;
        if (!readAll((uint8_t*)&length, 4))
            return 0;
        uint8_t* body = obtain(length);
        readAll(body, length);
        const uint8_t* key = memmem(body, length, payloadKey, sizeof payloadKey - 1);
        if (key == NULL) {
            reply("HELLO_OK");
        } else {
            const uint8_t* text = key + sizeof payloadKey - 1;
            const uint8_t* end = memchr(text, '"', length - (size_t)(text - body));
            if (end == NULL) {
                errno = EINVAL;
                fail("midiBase64");
            }
            prepare(argv[1], text, (size_t)(end - text));
            reply("PREPARED");
        }
        free(body);
    }
}
