// The floor of host_process_bench: the least any native messaging host must do for a PREPARE,
// done the plainest fast way, with nothing of the host's code in it. Started the way the host
// is (over pipes, a folder to store into as its one argument), it reads each frame whole and
// answers it with one small frame. A frame that holds "midiBase64" is a PREPARE: its base64 is
// decoded with OpenSSL's EVP_DecodeBlock and the clip hashed with SHA256, then the clip and a
// small record are written and flushed in a staging folder, the folder is flushed, renamed to
// its final name, and the parent flushed, as the cache stores an entry. It checks nothing a
// host must check; a frame it cannot handle ends it with status 1.
#define _GNU_SOURCE
#include "floor_io.h"

static void prepare(const char* folder, const uint8_t* text, size_t length) {
    size_t size = 0;
    uint8_t* clip = decodeBase64(text, length, &size);
    uint8_t digest[SHA256_DIGEST_LENGTH];
    SHA256(clip, size, digest);

    char staging[4096], path[4200];
    snprintf(staging, sizeof staging, "%s/floor-staging", folder);
    if (mkdir(staging, 0700) != 0)
        fail(staging);
    snprintf(path, sizeof path, "%s/clip.mid", staging);
    writeFlushed(path, clip, size);
    publish(folder, staging, size, digest);
    free(clip);
}

int main(int argc, char** argv) {
    const char* folder = start(argc, argv);
    uint32_t length = 0;
    for (uint8_t* body; (body = readFrame(&length)) != NULL; free(body)) {
        size_t textLength = 0;
        const uint8_t* text = stringAfter(body, length, "\"midiBase64\":\"", &textLength);
        if (text == NULL) {
            reply("{\"type\":\"HELLO_OK\"}");
        } else {
            prepare(folder, text, textLength);
            reply("{\"type\":\"PREPARED\"}");
        }
    }
    return 0;
}
