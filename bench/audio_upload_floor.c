// The floor of audio_upload_bench: the least any native messaging host must do to take an audio
// clip in chunks, done the plainest fast way, with nothing of the host's code in it. Started the
// way the host is (over pipes, a folder to store into as its one argument), it reads each frame
// whole and answers it with one small frame. A frame that holds "dataBase64" is an UPLOAD_CHUNK:
// its base64 is decoded with OpenSSL's EVP_DecodeBlock, added to the clip's SHA-256 (EVP) and
// written to the clip file; the chunk that completes the clip flushes the file, and then a
// small record is written and flushed beside it, the staging folder flushed, renamed to its
// final name, and the parent flushed, as the cache stores an entry. Any other frame that names
// "byteLength" is an UPLOAD: it makes the staging folder and the clip file. The rest (HELLO)
// are answered HELLO_OK. It checks nothing a host must check; a frame it cannot handle ends it
// with status 1.
#define _GNU_SOURCE
#include <inttypes.h>

#include "floor_io.h"

// The one upload in progress.
static struct {
    int file;
    int64_t byteLength;
    int64_t received;
    EVP_MD_CTX* digest;
    char staging[4096];
} upload = {.file = -1};

static void uploading(void) {
    char body[192];
    snprintf(body, sizeof body,
             "{\"type\":\"UPLOADING\",\"uploadId\":\"00000000000000000000000000000000\","
             "\"received\":%" PRId64 ",\"chunkMaxBytes\":16777216}",
             upload.received);
    reply(body);
}

static void begin(const char* folder, const uint8_t* body, size_t length) {
    static const char lengthKey[] = "\"byteLength\":";
    const uint8_t* key = memmem(body, length, lengthKey, sizeof lengthKey - 1);
    if (upload.file >= 0) {
        errno = EINVAL;
        fail("UPLOAD");
    }
    upload.byteLength = strtoll((const char*)key + sizeof lengthKey - 1, NULL, 10);
    upload.received = 0;
    if (EVP_DigestInit_ex(upload.digest, EVP_sha256(), NULL) != 1)
        fail("EVP_DigestInit_ex");
    snprintf(upload.staging, sizeof upload.staging, "%s/floor-staging", folder);
    if (mkdir(upload.staging, 0700) != 0)
        fail(upload.staging);
    char path[4200];
    snprintf(path, sizeof path, "%s/.upload", upload.staging);
    upload.file = open(path, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (upload.file < 0)
        fail(path);
    uploading();
}

static void store(const char* folder) {
    uint8_t digest[SHA256_DIGEST_LENGTH];
    if (EVP_DigestFinal_ex(upload.digest, digest, NULL) != 1)
        fail("EVP_DigestFinal_ex");
    if (fsync(upload.file) != 0 || close(upload.file) != 0)
        fail("clip");
    upload.file = -1;
    char from[4200], to[4200];
    snprintf(from, sizeof from, "%s/.upload", upload.staging);
    snprintf(to, sizeof to, "%s/clip.wav", upload.staging);
    if (rename(from, to) != 0)
        fail("rename");
    publish(folder, upload.staging, (size_t)upload.byteLength, digest);
    reply("{\"type\":\"PREPARED\"}");
}

static void chunk(const char* folder, const uint8_t* text, size_t length) {
    if (upload.file < 0) {
        errno = EINVAL;
        fail("UPLOAD_CHUNK");
    }
    size_t size = 0;
    uint8_t* bytes = decodeBase64(text, length, &size);
    if (EVP_DigestUpdate(upload.digest, bytes, size) != 1)
        fail("EVP_DigestUpdate");
    writeAll(upload.file, bytes, size);
    free(bytes);
    upload.received += (int64_t)size;
    if (upload.received < upload.byteLength)
        uploading();
    else
        store(folder);
}

int main(int argc, char** argv) {
    const char* folder = start(argc, argv);
    upload.digest = EVP_MD_CTX_new();
    if (upload.digest == NULL)
        fail("EVP_MD_CTX_new");
    uint32_t length = 0;
    for (uint8_t* body; (body = readFrame(&length)) != NULL; free(body)) {
        size_t textLength = 0;
        const uint8_t* text = stringAfter(body, length, "\"dataBase64\":\"", &textLength);
        if (text != NULL) {
            chunk(folder, text, textLength);
        } else if (memmem(body, length, "\"byteLength\":", 13) != NULL) {
            begin(folder, body, length);
        } else {
            reply("{\"type\":\"HELLO_OK\"}");
        }
    }
    return 0;
}
