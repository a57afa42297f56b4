// Test-only native host that proves the harness without the real host: it answers every
// message with the message itself (when small), its length in bytes, its arguments and its
// working folder, and exits 0 when Chromium closes its standard input.

import fs from 'node:fs';

let pending = Buffer.alloc(0);

function answer(body) {
    const reply = Buffer.from(
        JSON.stringify({
            echo: body.length <= 65536 ? JSON.parse(body.toString('utf8')) : null,
            bytes: body.length,
            argv: process.argv.slice(2),
            cwd: process.cwd(),
        }),
    );
    const header = Buffer.alloc(4);
    header.writeUInt32LE(reply.length);
    fs.writeSync(1, Buffer.concat([header, reply]));
}

process.stdin.on('data', (chunk) => {
    pending = Buffer.concat([pending, chunk]);
    while (pending.length >= 4 && pending.length >= 4 + pending.readUInt32LE(0)) {
        const length = pending.readUInt32LE(0);
        answer(pending.subarray(4, 4 + length));
        pending = pending.subarray(4 + length);
    }
});
process.stdin.on('end', () => process.exit(0));
