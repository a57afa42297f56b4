// The clip as it goes on the wire: base64 and SHA-256 of edge sizes against Node's own, and the
// prepare requests refused before anything is sent, with the codes the host would answer.

import assert from 'node:assert/strict';
import {createHash, randomBytes} from 'node:crypto';
import {test} from 'node:test';

import {base64, BridgeClient, maxMidiBytes, sha256Hex} from '../quenra-bridge.js';

import {FakeRuntime} from './fake-runtime.js';

// Around the chunk size (3 × 16384) and its neighbours, and the two remainders of 3.
const sizes = [0, 1, 2, 3, 4, 5, 49151, 49152, 49153, 98304, 98305, 1 << 20, maxMidiBytes];

test('base64 and SHA-256 equal Node\'s for edge sizes, with and without toBase64', async () => {
    for (const size of sizes) {
        const bytes = new Uint8Array(randomBytes(size));
        const expected = Buffer.from(bytes).toString('base64');
        assert.equal(base64(bytes), expected, `base64 of ${size} bytes`);
        // Without Uint8Array.toBase64 (Node 20, older Chromium): the chunked path.
        const plain = new Uint8Array(bytes);
        plain.toBase64 = undefined;
        assert.equal(base64(plain), expected, `chunked base64 of ${size} bytes`);
        assert.equal(await sha256Hex(bytes), createHash('sha256').update(bytes).digest('hex'));
    }
});

test('base64 of a view encodes only the view\'s bytes', () => {
    const whole = new Uint8Array(randomBytes(100));
    const view = whole.subarray(7, 60);
    assert.equal(base64(view), Buffer.from(view).toString('base64'));
});

test('PREPARE carries the length, hash and base64 of exactly the bytes given', async () => {
    const runtime = new FakeRuntime();
    const bridge = new BridgeClient({runtime});
    const backing = new Uint8Array(randomBytes(5000));
    const view = new DataView(backing.buffer, 1000, 3001);
    const call = bridge.prepare(view, {clipId: 'clip-1', generation: 2, name: ' Bass '});
    const port = await runtime.port(0);
    await port.greet();
    const request = await port.next();
    const bytes = backing.subarray(1000, 4001);
    assert.equal(request.type, 'PREPARE');
    assert.equal(request.byteLength, 3001);
    assert.equal(request.sha256, createHash('sha256').update(bytes).digest('hex'));
    assert.equal(request.midiBase64, Buffer.from(bytes).toString('base64'));
    assert.equal(request.suggestedName, ' Bass ');  // sent as given; the host makes it safe
    assert.equal(request.clipId, 'clip-1');
    assert.equal(request.generation, 2);
    port.answer(request, 'PREPARED', {preparedId: 'f'.repeat(32)});
    assert.equal((await call).preparedId, 'f'.repeat(32));
});

test(
    'a prepare the host would refuse is refused locally with its code, sending nothing',
    async () => {
        const ok = {clipId: 'clip-1', generation: 1, name: 'Clip'};
        const small = new Uint8Array(40);
        const cases = [
            [new Uint8Array(maxMidiBytes + 1), ok, 'TOO_LARGE'],
            [new Uint8Array(0), ok, 'BAD_REQUEST'],
            [small, {...ok, name: ''}, 'BAD_REQUEST'],
            [small, {...ok, name: '\u3000\t\u00a0\ufeff\u2028 '}, 'BAD_REQUEST'],
            [small, {...ok, name: 'x'.repeat(201)}, 'BAD_REQUEST'],
            [small, {...ok, name: '\u{1F3B9}'.repeat(101)}, 'BAD_REQUEST'],  // 202 units
            [small, {...ok, name: 7}, 'BAD_REQUEST'],
            [small, {...ok, clipId: ''}, 'BAD_REQUEST'],
            [small, {...ok, clipId: 'a/b'}, 'BAD_REQUEST'],
            [small, {...ok, clipId: 'c'.repeat(65)}, 'BAD_REQUEST'],
            [small, {...ok, generation: 0}, 'BAD_REQUEST'],
            [small, {...ok, generation: 1.5}, 'BAD_REQUEST'],
            [small, {...ok, generation: 2 ** 53}, 'BAD_REQUEST'],
        ];
        const runtime = new FakeRuntime();
        const bridge = new BridgeClient({runtime});
        for (const [bytes, clip, code] of cases) {
            await assert.rejects(
                bridge.prepare(bytes, clip), {name: 'BridgeError', code},
                JSON.stringify({size: bytes.length, ...clip}));
        }
        assert.equal(runtime.ports.length, 0);

        // The bounds themselves pass: 16 MiB, a 200-unit name, a name with blanks around it.
        const accepted = [
            [new Uint8Array(maxMidiBytes), {...ok, name: 'x'.repeat(200)}],
            [new Uint8Array(1), {...ok, name: '\u3000a\t', generation: 2 ** 53 - 1}],
        ];
        const calls = accepted.map(([bytes, clip]) => bridge.prepare(bytes, clip));
        const port = await runtime.port(0);
        await port.greet();
        for (const [bytes] of accepted) {
            const request = await port.next();
            assert.equal(request.byteLength, bytes.length);
            port.answer(request, 'PREPARED', {});
        }
        await Promise.all(calls);
    });
