// prepareAudio against a scripted port: UPLOAD and its chunks byte for byte, progress, the
// refusals and what each leaves in the host, abort, the host's four open uploads, the format read
// from a file's header, and an audio clip armed beside a MIDI one.

import assert from 'node:assert/strict';
import {createHash, randomBytes} from 'node:crypto';
import {test} from 'node:test';

import {BridgeClient, maxAudioBytes, sniffAudioFormat} from '../quenra-bridge.js';

import {FakeRuntime} from './fake-runtime.js';

const audioHost = ['drag-takeover-1', 'multi-clip-drag-1', 'audio-clip-1'];
const clip = {
    clipId: 'stem-1',
    generation: 1,
    name: 'Vocals'
};

// A WAV header, then noise: what the client reads as "wav".
function wavBytes(size) {
    const bytes = new Uint8Array(randomBytes(size));
    bytes.set(new TextEncoder().encode('RIFF\0\0\0\0WAVE').subarray(0, size));
    return bytes;
}

async function connected(options = {}, capabilities = audioHost) {
    const runtime = new FakeRuntime();
    const bridge = new BridgeClient({runtime, hostName: 'test.host', ...options});
    bridge.status().catch(() => {});
    const port = await runtime.port(0);
    await port.greet(capabilities);
    port.answer(await port.next(), 'STATUS', {});
    return {runtime, bridge, port};
}

// The host's side of UPLOAD: UPLOADING with this id and chunk size.
function uploading(port, request, uploadId, chunkMaxBytes) {
    const {clipId, generation} = request;
    port.answer(request, 'UPLOADING', {uploadId, clipId, generation, received: 0, chunkMaxBytes});
}

function prepared(request, uploadId, format = 'wav') {
    const {clipId, generation, sha256, byteLength} = request;
    return {preparedId: uploadId, clipId, generation, sha256, byteLength, fileName: 'x', format};
}

// Runs the client until nothing more happens without the host.
async function idle() {
    for (let i = 0; i < 20; i++) {
        await new Promise((resolve) => setImmediate(resolve));
    }
}

const uploadId = 'a'.repeat(32);

test('a clip goes in chunks of chunkMaxBytes, one at a time, with progress per chunk', async () => {
    const sources = {
        'Uint8Array': (bytes) => bytes,
        'ArrayBuffer': (bytes) => bytes.slice().buffer,
        'DataView': (bytes) => {
            const backing = new Uint8Array(bytes.length + 9);
            backing.set(bytes, 7);
            return new DataView(backing.buffer, 7, bytes.length);
        },
        'Blob': (bytes) => new Blob([bytes.subarray(0, 5), bytes.subarray(5)]),
    };
    // Chunks of 1000 bytes: less than one, one whole chunk, a byte past it, two and a bit, three.
    for (const [size, kind] of [
             [12, 'Blob'], [1000, 'Uint8Array'], [1001, 'DataView'], [2005, 'Blob'],
             [2005, 'ArrayBuffer'], [3000, 'Blob']]) {
        const what = `${size} bytes from ${kind}`;
        const bytes = wavBytes(size);
        const {bridge, port} = await connected();
        const log = [];
        const call = bridge.prepareAudio(sources[kind](bytes), {
            ...clip,
            onProgress: (progress) => log.push(progress),
        });
        call.then(() => log.push('resolved'));
        const request = await port.next();
        const {protocolVersion, session, requestId, ...fields} = request;
        assert.deepEqual(
            fields, {
                type: 'UPLOAD',
                clipId: 'stem-1',
                generation: 1,
                sha256: createHash('sha256').update(bytes).digest('hex'),
                byteLength: size,
                suggestedName: 'Vocals',
                format: 'wav',
            },
            what);
        uploading(port, request, uploadId, 1000);

        const chunks = [];
        for (let offset = 0; offset < size; offset += 1000) {
            const chunk = await port.next();
            await idle();
            assert.equal(port.posted.length, 0, `${what}: one chunk at a time`);
            chunks.push(chunk);
            const received = Math.min(offset + 1000, size);
            if (received < size) {
                port.answer(chunk, 'UPLOADING', {uploadId, received, chunkMaxBytes: 1000});
            } else {
                port.answer(chunk, 'PREPARED', prepared(request, uploadId));
            }
        }
        const reply = await call;
        assert.equal(reply.format, 'wav');
        assert.deepEqual(
            chunks.map(({type, uploadId: id, offset}) => [type, id, offset]),
            chunks.map((_, index) => ['UPLOAD_CHUNK', uploadId, index * 1000]), what);
        const sent = chunks.map((chunk) => Buffer.from(chunk.dataBase64, 'base64'));
        assert.deepEqual(
            sent.map((chunk) => chunk.length),
            chunks.map((_, index) => Math.min(1000, size - index * 1000)), what);
        assert.deepEqual(new Uint8Array(Buffer.concat(sent)), bytes, what);
        assert.deepEqual(
            log,
            [
                ...chunks.map(
                    (_, index) =>
                        ({received: Math.min((index + 1) * 1000, size), byteLength: size})),
                'resolved'
            ],
            what);
    }
});

test('the format comes from the header unless given; bytes of no format are refused', () => {
    const head = (...parts) => new Uint8Array(parts.flatMap(
        (part) => (typeof part === 'string' ? [...part].map((c) => c.charCodeAt(0)) : part)));
    const size = [0x24, 0x08, 0, 0];
    for (const [what, bytes, format] of [
             ['RIFF WAVE', head('RIFF', size, 'WAVE'), 'wav'],
             ['RIFF of another kind', head('RIFF', size, 'AVI '), null],
             ['RF64', head('RF64', size, 'WAVE'), null],
             ['FORM AIFF', head('FORM', size, 'AIFF'), 'aiff'],
             ['FORM AIFC', head('FORM', size, 'AIFC'), 'aiff'],
             ['FORM of another kind', head('FORM', size, '8SVX'), null],
             ['fLaC', head('fLaC', [0, 0, 0, 0x22]), 'flac'],
             ['ID3 tag', head('ID3', [4, 0, 0]), 'mp3'],
             ['MPEG-1 layer III', head([0xff, 0xfb, 0x90, 0x64]), 'mp3'],
             ['MPEG-2 layer III', head([0xff, 0xf3, 0x48, 0xc4]), 'mp3'],
             ['MPEG-2.5 layer III', head([0xff, 0xe3, 0x18, 0xc4]), 'mp3'],
             ['MPEG-1 layer II', head([0xff, 0xfd, 0x94, 0x00]), 'mp3'],
             ['a frame header cut short', head([0xff, 0xfb, 0x90]), null],
             ['AAC in ADTS (layer 00)', head([0xff, 0xf1, 0x50, 0x80]), null],
             ['reserved MPEG version', head([0xff, 0xeb, 0x90, 0x64]), null],
             ['bit rate index 15', head([0xff, 0xfb, 0xf0, 0x64]), null],
             ['sample rate index 3', head([0xff, 0xfb, 0x9c, 0x64]), null],
             ['twelve sync bits short of one', head([0xff, 0xdb, 0x90, 0x64]), null],
             ['a MIDI file', head('MThd', [0, 0, 0, 6]), null],
             ['Ogg', head('OggS', [0, 2, 0, 0]), null],
             ['nothing', head(), null],
             ['RIFF cut short', head('RIF'), null],
    ]) {
        assert.equal(sniffAudioFormat(bytes), format, what);
    }
});

test('what the host would refuse before the bytes is refused without a port', async () => {
    class Sized extends Blob {
        constructor(size) {
            super([wavBytes(16)]);
            this.announced = size;
        }
        get size() { return this.announced; }
    }
    const runtime = new FakeRuntime();
    const bridge = new BridgeClient({runtime});
    for (const [what, data, info, code] of [
             ['empty', new Uint8Array(0), clip, 'BAD_REQUEST'],
             ['over 1 GiB', new Sized(maxAudioBytes + 1), clip, 'TOO_LARGE'],
             ['an unknown format', wavBytes(64), {...clip, format: 'ogg'}, 'BAD_REQUEST'],
             ['a format in capitals', wavBytes(64), {...clip, format: 'WAV'}, 'BAD_REQUEST'],
             ['bytes of no format', new Uint8Array(64), clip, 'NOT_AUDIO'],
             ['a blank name', wavBytes(64), {...clip, name: ' \t'}, 'BAD_REQUEST'],
    ]) {
        await assert.rejects(bridge.prepareAudio(data, info), {name: 'BridgeError', code}, what);
    }
    assert.equal(runtime.ports.length, 0);

    // 1 GiB itself passes, and so do bytes of no format with a format given; this host then
    // refuses both because it takes no audio, with nothing sent after HELLO.
    const calls = [
        bridge.prepareAudio(new Sized(maxAudioBytes), clip),
        bridge.prepareAudio(new Uint8Array(64), {...clip, format: 'mp3'}),
    ];
    const port = await runtime.port(0);
    await port.greet(['drag-takeover-1', 'multi-clip-drag-1']);
    for (const call of calls) {
        await assert.rejects(call, {name: 'BridgeError', code: 'NOT_SUPPORTED'});
    }
    await idle();
    assert.equal(port.posted.length, 0);
});

test(
    'each refusal rejects with its code, and releases the upload only if the host holds it',
    async () => {
        // A clock that runs fast enough that the host's rate window never fills.
        let clock = 0;
        const {bridge, port} =
            await connected({timeoutMs: 200, prepareTimeoutMs: 200, now: () => (clock += 5000)});
        const bytes = wavBytes(2500);
        // [code, answered to which request (0 UPLOAD, 1 the first chunk, 3 the last chunk)].
        for (const [code, at, released] of [
                 ['TOO_LARGE', 0, false],
                 ['RATE_LIMITED', 0, false],
                 ['CACHE_FULL', 0, false],
                 ['BAD_REQUEST', 1, true],
                 ['LENGTH_MISMATCH', 1, true],
                 ['UNKNOWN_PREPARED', 1, false],
                 ['INTERNAL', 3, true],
                 ['HASH_MISMATCH', 3, false],
                 ['NOT_AUDIO', 3, false],
        ]) {
            const call = bridge.prepareAudio(bytes, clip);
            const request = await port.next();
            if (at === 0) {
                port.answer(request, 'ERROR', {code});
            } else {
                uploading(port, request, uploadId, 1000);
                for (let index = 1; index <= at; index++) {
                    const chunk = await port.next();
                    if (index < at) {
                        port.answer(chunk, 'UPLOADING', {uploadId, received: index * 1000});
                    } else {
                        port.answer(chunk, 'ERROR', {code});
                    }
                }
            }
            await assert.rejects(
                call, (error) => error.code === code && error.reply.code === code, code);
            await idle();
            assert.deepEqual(
                port.posted.splice(0).map(({type, preparedId}) => [type, preparedId]),
                released ? [['RELEASE', uploadId]] : [], code);
        }

        // A chunk left unanswered: the upload may still be open, so it is released.
        const call = bridge.prepareAudio(bytes, clip);
        uploading(port, await port.next(), uploadId, 1000);
        await port.next();
        await assert.rejects(call, {code: 'TIMEOUT'});
        assert.deepEqual((await port.next()).preparedId, uploadId);
    });

test('a host gone during an upload ends it, and no chunk goes to the next host', async () => {
    const {runtime, bridge, port} = await connected();
    const call = bridge.prepareAudio(wavBytes(2500), {
        ...clip,
        onProgress: () => port.hostGone('Native host has exited.'),
    });
    uploading(port, await port.next(), uploadId, 1000);
    const chunk = await port.next();
    port.answer(chunk, 'UPLOADING', {uploadId, received: 1000});
    await assert.rejects(call, {code: 'DISCONNECTED'});
    await idle();
    assert.equal(runtime.ports.length, 1);
});

test('an abort rejects at once and releases what the host holds for the upload', async () => {
    const bytes = wavBytes(2500);
    // When the abort comes: how many chunks have been sent by then (-1: before UPLOADING), and
    // how the host answers the request in flight.
    for (const [what, sent, inFlight, released] of [
             ['before UPLOADING', -1, 'UPLOADING', uploadId],
             ['with the first chunk in flight', 1, 'UPLOADING', uploadId],
             ['with the last chunk in flight', 3, 'PREPARED', 'b'.repeat(32)],
             ['with the last chunk in flight, refused', 3, 'NOT_AUDIO', null],
    ]) {
        const {bridge, port} = await connected();
        const controller = new AbortController();
        const call = bridge.prepareAudio(bytes, {...clip, signal: controller.signal});
        const request = await port.next();
        let last = request;
        if (sent >= 0) {
            uploading(port, request, uploadId, 1000);
            for (let index = 1; index <= sent; index++) {
                last = await port.next();
                if (index < sent) {
                    port.answer(last, 'UPLOADING', {uploadId, received: index * 1000});
                }
            }
        }
        controller.abort();
        await assert.rejects(call, {name: 'AbortError'}, what);
        if (inFlight === 'UPLOADING') {
            uploading(port, last, uploadId, 1000);
        } else if (inFlight === 'PREPARED') {
            port.answer(last, 'PREPARED', prepared(request, 'b'.repeat(32)));
        } else {
            port.answer(last, 'ERROR', {code: inFlight});
        }
        await idle();
        assert.deepEqual(
            port.posted.map(({type, preparedId}) => [type, preparedId]),
            released ? [['RELEASE', released]] : [], what);
        bridge.close();
    }

    // Aborted before the call: nothing is opened.
    const runtime = new FakeRuntime();
    const bridge = new BridgeClient({runtime});
    await assert.rejects(
        bridge.prepareAudio(bytes, {...clip, signal: AbortSignal.abort()}), {name: 'AbortError'});
    assert.equal(runtime.ports.length, 0);
});

test('a progress listener that throws ends the upload with its error, released', async () => {
    // It throws after the first chunk (the upload is open) or after the last (the clip is
    // prepared, under another id here).
    for (const [throwsAt, released] of [[1000, uploadId], [2500, 'b'.repeat(32)]]) {
        const {bridge, port} = await connected();
        const failure = new Error('the page went away');
        const call = bridge.prepareAudio(wavBytes(2500), {
            ...clip,
            onProgress: ({received}) => {
                if (received === throwsAt) {
                    throw failure;
                }
            },
        });
        const request = await port.next();
        uploading(port, request, uploadId, 1000);
        let message = await port.next();
        for (let received = 1000; message.type === 'UPLOAD_CHUNK'; received += 1000) {
            if (received < 2500) {
                port.answer(message, 'UPLOADING', {uploadId, received});
            } else {
                port.answer(message, 'PREPARED', prepared(request, 'b'.repeat(32)));
            }
            message = await port.next();
        }
        await assert.rejects(call, (error) => error === failure);
        assert.deepEqual([message.type, message.preparedId], ['RELEASE', released]);
        bridge.close();
    }
});

test('a fifth upload waits until one of four open ones ends, and then goes', async () => {
    const {bridge, port} = await connected();
    const calls = [1, 2, 3, 4, 5].map(
        (index) => bridge.prepareAudio(wavBytes(100), {...clip, clipId: `stem-${index}`}));
    // Four UPLOADs, each answered, and the one chunk of each.
    const chunks = new Map();  // upload id → its chunk
    while (chunks.size < 4) {
        const message = await port.next();
        if (message.type === 'UPLOAD') {
            uploading(port, message, message.clipId.at(-1).repeat(32), 1000);
        } else {
            chunks.set(message.uploadId, message);
        }
    }
    await idle();
    assert.equal(port.posted.length, 0, 'the fifth UPLOAD waits');

    // The third ends refused: its RELEASE leaves before the fifth UPLOAD, so the host never
    // holds five.
    port.answer(chunks.get('3'.repeat(32)), 'ERROR', {code: 'LENGTH_MISMATCH'});
    await assert.rejects(calls[2], {code: 'LENGTH_MISMATCH'});
    const release = await port.next();
    assert.deepEqual([release.type, release.preparedId], ['RELEASE', '3'.repeat(32)]);
    const fifth = await port.next();
    assert.deepEqual([fifth.type, fifth.clipId], ['UPLOAD', 'stem-5']);
    bridge.close();
    await Promise.allSettled(calls);
});

test('a newer generation\'s UPLOADING ends the older upload of the clip', async () => {
    const {bridge, port} = await connected();
    const older = bridge.prepareAudio(wavBytes(2500), clip);
    uploading(port, await port.next(), uploadId, 1000);
    const chunk = await port.next();
    const newer = bridge.prepareAudio(wavBytes(100), {...clip, generation: 2});
    const upload = await port.next();
    uploading(port, upload, 'c'.repeat(32), 1000);
    // The host ended the older upload: its chunk in flight is refused, and it is not released.
    port.answer(chunk, 'ERROR', {code: 'UNKNOWN_PREPARED'});
    await assert.rejects(older, {code: 'STALE'});
    const last = await port.next();
    assert.deepEqual([last.type, last.uploadId], ['UPLOAD_CHUNK', 'c'.repeat(32)]);
    port.answer(last, 'PREPARED', prepared(upload, 'c'.repeat(32)));
    assert.equal((await newer).generation, 2);
    await idle();
    assert.equal(port.posted.length, 0);
});

test('UPLOAD waits for the rate window that PREPAREs filled', {timeout: 20000}, async (t) => {
    t.mock.timers.enable({apis: ['setTimeout', 'Date'], now: 0});
    const {bridge, port} = await connected({now: () => Date.now()});
    const midi = Array.from({length: 8}, (_, index) => bridge.prepare(new Uint8Array(64), {
        ...clip,
        clipId: `part-${index}`,
    }));
    const audio = bridge.prepareAudio(wavBytes(100), clip);
    for (let index = 0; index < 8; index++) {
        port.answer(await port.next(), 'PREPARED', {clipId: `part-${index}`, generation: 1});
    }
    await Promise.all(midi);
    await idle();
    assert.equal(port.posted.length, 0, 'the ninth request of the window waits');
    t.mock.timers.tick(2000);
    await idle();
    assert.equal(port.posted.length, 0, 'still inside the window and its margin');
    t.mock.timers.tick(100);
    const request = await port.next();
    assert.equal(request.type, 'UPLOAD');
    uploading(port, request, uploadId, 1000);
    port.answer(await port.next(), 'PREPARED', prepared(request, uploadId));
    await audio;
});

test('an audio clip is armed beside a MIDI clip like any prepared clip', async () => {
    const {bridge, port} = await connected();
    const midiCall = bridge.prepare(new Uint8Array(64), {...clip, clipId: 'drums'});
    const prepare = await port.next();
    const midi = {...prepared(prepare, 'd'.repeat(32)), format: undefined};
    port.answer(prepare, 'PREPARED', midi);
    const audioCall = bridge.prepareAudio(wavBytes(100), clip);
    const upload = await port.next();
    uploading(port, upload, uploadId, 1000);
    port.answer(await port.next(), 'PREPARED', prepared(upload, uploadId));
    const parts = [await midiCall, await audioCall];

    const armed = bridge.arm(parts);
    const arm = await port.next();
    assert.deepEqual(
        arm.clips,
        parts.map(
            ({preparedId, clipId, generation, sha256}) =>
                ({preparedId, clipId, generation, sha256})));
    const clips =
        parts.map(({preparedId, clipId, generation}) => ({preparedId, clipId, generation}));
    port.answer(arm, 'ARMED', {clips, token: 'T'.repeat(22), marker: 'm', leaseMs: 10000});
    assert.deepEqual((await armed).clips, clips);
});
