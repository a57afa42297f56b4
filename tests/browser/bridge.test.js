// The real host behind Chromium: a whole clip's road (HELLO, PREPARE, STATUS, ARM, a takeover
// on the drag board, CANCEL, RELEASE), the end of a connection, the size limits as Chromium
// frames them, and two hosts competing for the one armed drag of a user.

import assert from 'node:assert/strict';
import {createHash} from 'node:crypto';
import fs from 'node:fs';
import {after, before, test} from 'node:test';
import {fileURLToPath} from 'node:url';

import {BridgeConnection, CacheView, dragSim, errorReply, protocolVersion, reply} from './lib/bridge.js';
import {Browser, testOrigin} from './lib/browser.js';
import {bridgeTestHostName, bridgeWrapperName, echoHostName, Sandbox, waitFor} from './lib/sandbox.js';

const maxMidiBytes = 16777216;
const maxRequestFrameBytes = 25165824;

const sandbox = new Sandbox('bridge');
const cache = new CacheView(sandbox);
let browser;
let connections = 0;  // to the real host, ports and one-shot messages

// The connection that carries one clip's whole road, case after case.
let main;
let clipA;  // {prepared reply, bytes}
let armedA;

before(async () => {
    sandbox.registerBridgeHost(bridgeTestHostName, [testOrigin]);
    sandbox.registerEchoHost([testOrigin]);
    browser = await Browser.launch(sandbox);
});

after(async () => {
    await browser?.close();
    sandbox.remove();
});

async function openConnection() {
    connections += 1;
    return BridgeConnection.open(browser, sandbox);
}

// A connection whose HELLO has been answered, ready for the requests of a case.
async function openHelloedConnection() {
    const connection = await openConnection();
    await connection.hello();
    return connection;
}

function sha256(bytes) { return createHash('sha256').update(bytes).digest('hex'); }

function mode(file) { return fs.statSync(file).mode & 0o777; }

// The answer is the PREPARED of generation 1 of the clip, under the id it names.
function assertPrepared(connection, request, answer, clip) {
    assert.deepEqual(
        answer,
        reply(connection, request, 'PREPARED', {preparedId: answer.preparedId, generation: 1, ...clip}));
}

test('HELLO is answered HELLO_OK with the envelope; a request before it is NOT_READY', async () => {
    main = await openConnection();

    const early = main.request('STATUS');
    await main.port.post(early);
    assert.deepEqual(await main.answer(), errorReply(main, early, 'NOT_READY'));

    // A refused request's id is not remembered, so the HELLO may reuse it.
    const hello = {
        ...main.request('HELLO', {extensionVersion: '0.1.0'}),
        requestId: early.requestId
    };
    await main.port.post(hello);
    const answer = await main.answer();
    assert.deepEqual(
        answer,
        reply(main, hello, 'HELLO_OK', {
            helperVersion: '0.1.0',
            capabilities: ['drag-takeover-1', 'multi-clip-drag-1', 'audio-clip-1'],
            platform: {
                os: 'Linux',
                version: answer.platform?.version,
                arch: process.arch === 'arm64' ? 'arm64' : 'x86_64',
            },
        }),
    );
    assert.match(answer.platform.version, /^\d+\.\d+\.\d+$/);

    // Chromium started the wrapper with the test extension's origin; the wrapper passed the
    // release origin on.
    assert.deepEqual(main.run().args, [testOrigin]);
});

test('PREPARE of a generated clip is PREPARED, and the cache file is the clip', async () => {
    const made = await browser.makeClip('a', 4000, 1);
    const bytes = Buffer.from(made.base64, 'base64');
    assert.equal(bytes.length, 4000);

    const [request, answer] = await main.prepare('a', 'clip-a', 1, 'Bass line: take 2');
    assert.match(answer.preparedId ?? '', /^[0-9a-f]{32}$/, JSON.stringify(answer));
    assertPrepared(main, request, answer, {
        clipId: 'clip-a', sha256: made.sha256, byteLength: 4000, fileName: 'Bass line- take 2.mid'});
    clipA = {prepared: answer, bytes};

    const file = cache.clipPath(answer);
    assert.deepEqual(fs.readFileSync(file), bytes);
    assert.equal(mode(file), 0o600);
    assert.equal(mode(cache.entryDirectory(answer.preparedId)), 0o700);
    assert.equal(mode(sandbox.cacheRoot), 0o700);
    const record = cache.record(answer.preparedId);
    assert.equal(record.state, 'prepared');
    assert.equal(record.preparedId, answer.preparedId);
    assert.equal(record.fileName, 'Bass line- take 2.mid');
    assert.equal(record.byteLength, 4000);
    assert.equal(record.sha256, made.sha256);
    assert.equal(record.retainUntil ?? null, null);
});

test('STATUS reports the session\'s preparations and the cache\'s usage on disk', async () => {
    const [request, answer] = await main.exchange('STATUS');
    assert.deepEqual(
        answer,
        reply(main, request, 'STATUS', {
            helperVersion: '0.1.0',
            armed: false,
            preparations: 1,
            cache: cache.usage(),
        }),
    );
    assert.deepEqual(answer.cache, {entries: 1, bytes: 4000});
});

test('ARM is answered ARMED with a token and the marker, and the record is armed', async () => {
    const [request, answer] = await main.arm(clipA.prepared);
    assert.match(answer.token ?? '', /^[A-Za-z0-9_-]{22}$/, JSON.stringify(answer));
    assert.deepEqual(
        answer,
        reply(main, request, 'ARMED', {
            preparedId: clipA.prepared.preparedId,
            clipId: 'clip-a',
            generation: 1,
            token: answer.token,
            marker: `QNR_DAW_DRAG/v1/${main.session.id.slice(0, 16)}/${answer.token}`,
            leaseMs: 10000,
        }),
    );
    armedA = answer;
    // The record moves right after ARMED is written, before the first poll.
    await waitFor(() => cache.record(clipA.prepared.preparedId).state === 'armed', 2000,
                  () => 'the armed record');
    const record = cache.record(clipA.prepared.preparedId);
    assert.ok(record.retainUntil > Date.now() / 1000 + 86000, JSON.stringify(record));

    const [, status] = await main.exchange('STATUS');
    assert.equal(status.armed, true);
});

test(
    'a drag with the marker is taken over: PUBLISHED, and the drag board holds the clip file',
    async () => {
        // Another application's plain text, even the marker itself, is not a browser drag.
        dragSim(sandbox, 'copy', armedA.marker);
        assert.deepEqual(await main.port.receive(300), {timedOut: true});

        dragSim(sandbox, 'begin', armedA.marker);
        const event = await main.port.next(5000);
        assert.deepEqual(event, {
            type: 'PUBLISHED',
            protocolVersion,
            session: main.session,
            token: armedA.token,
            preparedId: clipA.prepared.preparedId,
            generation: 1,
        });

        const board = JSON.parse(dragSim(sandbox, 'show'));
        const file = cache.clipPath(clipA.prepared);
        // Spelled as Foundation spells a file URL: the path with its blanks percent-encoded.
        assert.equal(board.fileURL, `file://${file.split('/').map(encodeURIComponent).join('/')}`);
        assert.equal(fileURLToPath(board.fileURL), file);
        assert.deepEqual(board.filenames, [file]);
        assert.equal(board.leftButtonDown, true);
        assert.deepEqual(fs.readFileSync(file), clipA.bytes);
        const record = cache.record(clipA.prepared.preparedId);
        assert.equal(record.state, 'published');
        assert.ok(record.retainUntil > Date.now() / 1000 + 86000, JSON.stringify(record));
        dragSim(sandbox, 'button', 'up');

        const [, status] = await main.exchange('STATUS');
        assert.equal(status.armed, false);
        assert.equal(status.preparations, 1);
    });

let clipB;

test('CANCEL ends the armed drag once, and the clip is prepared again', async () => {
    await browser.makeClip('b', 2500, 2);
    const [, prepared] = await main.prepare('b', 'clip-b', 1, 'Drums');
    assert.equal(prepared.type, 'PREPARED', JSON.stringify(prepared));
    clipB = prepared;
    const [, armed] = await main.arm(prepared);
    assert.equal(armed.type, 'ARMED', JSON.stringify(armed));
    // The record moves right after ARMED is written.
    await waitFor(() => cache.record(prepared.preparedId).state === 'armed', 2000,
                  () => 'the armed record');

    const [cancel, cancelled] = await main.exchange('CANCEL', {token: armed.token});
    assert.deepEqual(
        cancelled, reply(main, cancel, 'CANCELLED', {token: armed.token, wasActive: true}));
    const record = cache.record(prepared.preparedId);
    assert.equal(record.state, 'prepared');
    assert.equal(record.retainUntil ?? null, null);

    const [again, notActive] = await main.exchange('CANCEL', {token: armed.token});
    assert.deepEqual(
        notActive, reply(main, again, 'CANCELLED', {token: armed.token, wasActive: false}));
    const [, status] = await main.exchange('STATUS');
    assert.equal(status.armed, false);
    assert.equal(status.preparations, 2);
});

test('RELEASE deletes a prepared clip and keeps a published one for its retention', async () => {
    const [request, released] = await main.exchange('RELEASE', {preparedId: clipB.preparedId});
    assert.deepEqual(released, reply(main, request, 'RELEASED', {preparedId: clipB.preparedId}));
    assert.equal(cache.exists(clipB.preparedId), false);

    const [requestA, releasedA] =
        await main.exchange('RELEASE', {preparedId: clipA.prepared.preparedId});
    assert.deepEqual(
        releasedA, reply(main, requestA, 'RELEASED', {preparedId: clipA.prepared.preparedId}));
    assert.equal(cache.record(clipA.prepared.preparedId).state, 'published');

    const [, status] = await main.exchange('STATUS');
    assert.equal(status.preparations, 0);
    assert.deepEqual(status.cache, cache.usage());
});

test('port.disconnect() ends the host with status 0 and removes its prepared entries', async () => {
    const connection = await openHelloedConnection();
    await browser.makeClip('c', 1000, 3);
    await browser.makeClip('d', 1200, 4);
    const [, c] = await connection.prepare('c', 'clip-c', 1, 'C');
    const [, d] = await connection.prepare('d', 'clip-d', 7, 'D');
    assert.equal(c.type, 'PREPARED', JSON.stringify(c));
    assert.equal(d.type, 'PREPARED', JSON.stringify(d));
    const [, armed] = await connection.arm(d);
    assert.equal(armed.type, 'ARMED', JSON.stringify(armed));
    assert.ok(cache.exists(c.preparedId) && cache.exists(d.preparedId));

    const run = await connection.disconnect();
    assert.equal(run.exit, 0, run.stderr);
    assert.doesNotMatch(run.stderr, /eof-mid-frame|internal-error/);
    assert.equal(cache.exists(c.preparedId), false);
    assert.equal(cache.exists(d.preparedId), false);
});

test(
    'sendNativeMessage gets one HELLO_OK, and the host exits 0 when Chromium closes its input',
    async () => {
        const known = new Set(sandbox.hostRuns(bridgeWrapperName).map((run) => run.pid));
        const session = {id: 'one-shot-session-0001', epoch: 3};
        const hello =
            {protocolVersion, session, requestId: 'once', type: 'HELLO', extensionVersion: '0.1.0'};
        connections += 1;
        const result = await browser.sendOnce(bridgeTestHostName, hello);
        assert.equal(result.reply?.type, 'HELLO_OK', JSON.stringify(result));
        assert.deepEqual(result.reply.session, session);
        assert.equal(result.reply.requestId, 'once');
        const run = await waitFor(
            () => sandbox.hostRuns(bridgeWrapperName)
                      .find((run) => !known.has(run.pid) && run.exit !== null),
            5000,
            () => `the one-shot host's exit: ${JSON.stringify(sandbox.hostRuns())}`,
        );
        assert.equal(run.exit, 0, run.stderr);
    });

test(
    'a 16 MiB clip, the limit, goes through Chromium and is PREPARED; one byte more is TOO_LARGE',
    async () => {
        const connection = await openHelloedConnection();
        const made = await browser.makeClip('max', maxMidiBytes, 5);
        const [request, answer] = await connection.prepare('max', 'clip-max', 1, 'Whole song.mid');
        await browser.forgetClip('max');
        assertPrepared(connection, request, answer, {
            clipId: 'clip-max', sha256: made.sha256, byteLength: maxMidiBytes,
            fileName: 'Whole song.mid'});
        const file = cache.clipPath(answer);
        const stored = fs.readFileSync(file);
        assert.equal(stored.length, maxMidiBytes);
        assert.equal(sha256(stored), made.sha256);

        // The clip limit is checked before the payload is looked at.
        const [over, refused] = await connection.exchange('PREPARE', {
            clipId: 'clip-over',
            generation: 1,
            sha256: made.sha256,
            byteLength: maxMidiBytes + 1,
            midiBase64: '',
            suggestedName: 'Too long',
        });
        assert.deepEqual(refused, errorReply(connection, over, 'TOO_LARGE'));

        const run = await connection.disconnect();
        assert.equal(run.exit, 0, run.stderr);
        assert.equal(cache.exists(answer.preparedId), false);
    });

// The bytes of the frame Chromium makes of message with a "padding" member, beyond the
// padding itself, as the echo host counts them.
async function overhead(message) {
    const port = await browser.connect(echoHostName);
    await port.postPadded(message, 16);
    const echoed = await port.next();
    await port.disconnect();
    return echoed.bytes - 16;
}

test(
    'an oversized frame from a large JSON message is answered TOO_LARGE and the port stays usable',
    async () => {
        const connection = await openHelloedConnection();
        const unparsed = {
            type: 'ERROR',
            code: 'TOO_LARGE',
            protocolVersion,
            session: connection.session,
            requestId: 'unparsed'
        };

        // Sizes are measured on Chromium's own framing of the very message, through the echo host.
        const over = connection.request('STATUS');
        await connection.port.postPadded(over, maxRequestFrameBytes - await overhead(over) + 1);
        assert.deepEqual(await connection.port.next(20000), unparsed);

        const [status, answer] = await connection.exchange('STATUS');
        assert.equal(answer.type, 'STATUS', JSON.stringify(answer));
        assert.equal(answer.requestId, status.requestId);

        // A body of exactly maxRequestFrameBytes is still read whole and answered: padded
        // outside any payload, it is refused for its size there, with its id, and the next
        // request is answered as usual.
        const atLimit = connection.request('STATUS');
        await connection.port.postPadded(atLimit, maxRequestFrameBytes - await overhead(atLimit));
        assert.deepEqual(await connection.port.next(20000), {
            type: 'ERROR',
            code: 'BAD_REQUEST',
            protocolVersion,
            session: connection.session,
            requestId: atLimit.requestId
        });
        const [after, afterAnswer] = await connection.exchange('STATUS');
        assert.equal(afterAnswer.type, 'STATUS', JSON.stringify(afterAnswer));
        assert.equal(afterAnswer.requestId, after.requestId);
        const run = await connection.disconnect();
        assert.equal(run.exit, 0, run.stderr);
    });

test(
    'a second connection is BUSY while the first holds an armed drag, and arms after CANCEL',
    async () => {
        const first = await openHelloedConnection();
        await browser.makeClip('e', 800, 6);
        const [, e] = await first.prepare('e', 'clip-e', 1, 'E');
        const [, armed] = await first.arm(e);
        assert.equal(armed.type, 'ARMED', JSON.stringify(armed));

        const second = await openHelloedConnection();
        await browser.makeClip('f', 900, 7);
        const [, f] = await second.prepare('f', 'clip-f', 1, 'F');
        assert.equal(f.type, 'PREPARED', JSON.stringify(f));
        const [busy, refused] = await second.arm(f);
        assert.deepEqual(refused, errorReply(second, busy, 'BUSY'));
        const [, status] = await second.exchange('STATUS');
        assert.equal(status.armed, false);

        const [, cancelled] = await first.exchange('CANCEL', {token: armed.token});
        assert.equal(cancelled.wasActive, true, JSON.stringify(cancelled));
        const [, armedSecond] = await second.arm(f);
        assert.equal(armedSecond.type, 'ARMED', JSON.stringify(armedSecond));

        const secondRun = await second.disconnect();
        const firstRun = await first.disconnect();
        assert.equal(secondRun.exit, 0, secondRun.stderr);
        assert.equal(firstRun.exit, 0, firstRun.stderr);
        assert.equal(cache.exists(e.preparedId), false);
        assert.equal(cache.exists(f.preparedId), false);
    });

test('every host Chromium started has exited 0 without an internal error', async () => {
    const run = await main.disconnect();
    assert.equal(run.exit, 0, run.stderr);
    const runs = await waitFor(
        () => {
            const runs = sandbox.hostRuns();
            return runs.every((r) => r.exit !== null) && runs;
        },
        5000,
        () => `every host's exit: ${
            JSON.stringify(sandbox.hostRuns().filter((r) => r.exit === null))}`,
    );
    for (const r of runs) {
        assert.equal(r.exit, 0, `host run ${JSON.stringify(r)}`);
        assert.deepEqual(r.args, [testOrigin]);
        assert.doesNotMatch(
            r.stderr, /internal-error|cache-unavailable|corrupt-frame-length/, `host run ${r.pid}`);
    }
    // Chromium started one host per connection, no more.
    assert.equal(runs.filter((r) => r.wrapper === bridgeWrapperName).length, connections);
});
