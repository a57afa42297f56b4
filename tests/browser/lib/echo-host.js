// Test-only native host that proves the harness without the real host: it answers every
// message with the message itself (when small), its length in bytes, its arguments and its
// working folder, and exits 0 when Chromium closes its standard input.

import fs from 'node:fs';

let header = Buffer.alloc(0);
let body = null;
let filled = 0;

function answer() {
    const reply = Buffer.from(JSON.stringify({
        echo: body.length <= 65536 ? JSON.parse(body.toString('utf8')) : null,
        bytes: body.length,
        argv: process.argv.slice(2),
        cwd: process.cwd(),
    }));
    const length = Buffer.alloc(4);
    length.writeUInt32LE(reply.length);
    fs.writeSync(1, Buffer.concat([length, reply]));
}

// Bodies are collected in a buffer of their announced size, so large frames cost one copy.
process.stdin.on('data', (chunk) => {
    let offset = 0;
    while (offset < chunk.length) {
        if (body === null) {
            const take = Math.min(4 - header.length, chunk.length - offset);
            header = Buffer.concat([header, chunk.subarray(offset, offset + take)]);
            offset += take;
            if (header.length === 4) {
                body = Buffer.alloc(header.readUInt32LE(0));
                filled = 0;
                header = Buffer.alloc(0);
            }
        } else {
            const take = Math.min(body.length - filled, chunk.length - offset);
            chunk.copy(body, filled, offset, offset + take);
            filled += take;
            offset += take;
        }
        if (body !== null && filled === body.length) {
            answer();
            body = null;
        }
    }
});
process.stdin.on('end', () => process.exit(0));
