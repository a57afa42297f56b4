// The product's client library (extension/quenra-bridge.js), loaded by the test extension, against
// the real host behind Chromium: HELLO on the first call, a clip's road to PUBLISHED, the host's
// refusals as BridgeError codes, Chromium's reasons when a port cannot open or the host dies, the
// reconnect after it, and a 16 MiB clip prepared through it, timed.

import assert from 'node:assert/strict';
import {createHash} from 'node:crypto';
import fs from 'node:fs';
import {after, before, test} from 'node:test';

import {CacheView, dragSim} from './lib/bridge.js';
import {Browser, testOrigin} from './lib/browser.js';
import {bridgeTestHostName, bridgeWrapperName, Sandbox, waitFor} from './lib/sandbox.js';

const maxMidiBytes = 16777216;
const sandbox = new Sandbox('client');
const cache = new CacheView(sandbox);
let browser;

before(async () => {
    sandbox.registerBridgeHost(bridgeTestHostName, [testOrigin]);
    browser = await Browser.launch(sandbox);
});

after(async () => {
    await browser?.close();
    sandbox.remove();
});

// The suite's handle on one BridgeClient living in the extension's worker.
class Client {
    static async open(options = {}) {
        const id = await browser.evaluate(
            (o) => globalThis.bridgeClients.open(o), {hostName: bridgeTestHostName, ...options});
        return new Client(id);
    }

    constructor(id) { this.id = id; }

    call(method, ...args) {
        return browser.evaluate(
            ([id, m, a]) => globalThis.bridgeClients.call(id, m, a), [this.id, method, args]);
    }

    async value(method, ...args) {
        const result = await this.call(method, ...args);
        assert.ok('value' in result, `${method}: ${JSON.stringify(result)}`);
        return result.value;
    }

    prepare(clipKey, clip) {
        return browser.evaluate(
            ([id, k, c]) => globalThis.bridgeClients.prepare(id, k, c), [this.id, clipKey, clip]);
    }

    async prepared(clipKey, clip) {
        const result = await this.prepare(clipKey, clip);
        assert.equal(result.value?.type, 'PREPARED', JSON.stringify(result));
        return result.value;
    }

    outcome(token, timeoutMs = 5000) {
        return browser.evaluate(
            ([id, t, ms]) => globalThis.bridgeClients.outcome(id, t, ms),
            [this.id, token, timeoutMs]);
    }

    state() { return browser.evaluate((id) => globalThis.bridgeClients.state(id), this.id); }

    close() { return browser.evaluate((id) => globalThis.bridgeClients.close(id), this.id); }
}

function freshRuns(known) {
    return sandbox.hostRuns(bridgeWrapperName).filter((run) => !known.has(run.pid));
}

function knownRuns() { return new Set(sandbox.hostRuns(bridgeWrapperName).map((run) => run.pid)); }

let main;
let known;

test('the first call says HELLO with a valid session and the host answers HELLO_OK', async () => {
    known = knownRuns();
    main = await Client.open();
    const status = await main.value('status');
    assert.equal(status.type, 'STATUS');
    assert.deepEqual(
        {armed: status.armed, preparations: status.preparations}, {armed: false, preparations: 0});
    const {session, hello} = await main.state();
    assert.match(session.id, /^[A-Za-z0-9_-]{16,64}$/);
    assert.equal(session.epoch, 1);
    assert.equal(hello.type, 'HELLO_OK');
    assert.deepEqual(hello.session, session);
    assert.equal(hello.helperVersion, '0.1.0');
    assert.deepEqual(hello.capabilities, ['drag-takeover-1', 'multi-clip-drag-1', 'audio-clip-1']);
    assert.deepEqual(status.session, session);
    assert.equal(freshRuns(known).length, 1);
});

let clipA;

test(
    'PREPARE, ARM and a drag with the marker end in PUBLISHED, the clip file on the board',
    async () => {
        const made = await browser.makeClip('a', 3000, 11);
        clipA = await main.prepared('a', {clipId: 'clip-a', generation: 1, name: 'Lead: v1'});
        assert.equal(clipA.sha256, made.sha256);
        assert.equal(clipA.byteLength, 3000);
        assert.equal(clipA.fileName, 'Lead- v1.mid');
        assert.deepEqual(
            fs.readFileSync(cache.clipPath(clipA)), Buffer.from(made.base64, 'base64'));

        const armed = await main.value('arm', clipA);
        const {session} = await main.state();
        assert.equal(armed.marker, `QNR_DAW_DRAG/v1/${session.id.slice(0, 16)}/${armed.token}`);
        assert.equal(armed.leaseMs, 10000);

        dragSim(sandbox, 'begin', armed.marker);
        const event = await main.outcome(armed.token);
        assert.deepEqual(event, {
            type: 'PUBLISHED',
            protocolVersion: '1.0',
            session,
            token: armed.token,
            preparedId: clipA.preparedId,
            generation: 1,
        });
        const board = JSON.parse(dragSim(sandbox, 'show'));
        assert.deepEqual(board.filenames, [cache.clipPath(clipA)]);
        dragSim(sandbox, 'button', 'up');
        assert.equal(cache.record(clipA.preparedId).state, 'published');
    });

test('the host\'s refusals reject with their wire codes; local ones never reach it', async () => {
    const refusal = async (method, ...args) => (await main.call(method, ...args)).error;
    assert.deepEqual(
        await refusal('arm', {...clipA, preparedId: '0'.repeat(32)}),
        {name: 'BridgeError', code: 'UNKNOWN_PREPARED', message: 'ARM refused: UNKNOWN_PREPARED'});
    assert.equal((await refusal('arm', {...clipA, generation: 2})).code, 'STALE');

    // Bytes that hash and encode fine but are no MIDI file: the host's content checks.
    await browser.makeClip('notmidi', 40, 1);
    await browser.evaluate(() => globalThis.bridgeClients.spoil('notmidi'));
    const notMidi = await main.prepare('notmidi', {clipId: 'clip-n', generation: 1, name: 'N'});
    assert.equal(notMidi.error?.code, 'NOT_MIDI', JSON.stringify(notMidi));

    const before = await main.value('status');
    const local = [
        ['a', {clipId: 'clip-a', generation: 1, name: ' \u3000\t'}, 'BAD_REQUEST'],
        ['a', {clipId: 'clip-a', generation: 1, name: 'n'.repeat(201)}, 'BAD_REQUEST'],
        ['a', {clipId: 'no spaces', generation: 1, name: 'x'}, 'BAD_REQUEST'],
    ];
    for (const [key, clip, code] of local) {
        const result = await main.prepare(key, clip);
        assert.equal(result.error?.code, code, JSON.stringify(result));
    }
    const after = await main.value('status');
    assert.equal(after.preparations, before.preparations);
});

test(
    'a second client is BUSY while the first holds the armed drag, and arms after cancel',
    async () => {
        await browser.makeClip('b', 900, 12);
        await browser.makeClip('c', 1100, 13);
        const b = await main.prepared('b', {clipId: 'clip-b', generation: 1, name: 'B'});
        const armed = await main.value('arm', b);

        const second = await Client.open();
        const c = await second.prepared('c', {clipId: 'clip-c', generation: 1, name: 'C'});
        assert.equal((await second.call('arm', c)).error?.code, 'BUSY');

        const cancelled = await main.value('cancel', armed.token);
        assert.equal(cancelled.wasActive, true);
        assert.equal(await main.outcome(armed.token), null);  // ended without an event
        const armedSecond = await second.value('arm', c);
        assert.equal(armedSecond.type, 'ARMED');
        await second.close();
    });

test('a host that is not registered fails with Chromium\'s reason, as a DISCONNECTED', async () => {
    const missing = await Client.open({hostName: 'tech.ostrell.quenra.not_registered'});
    const result = await missing.call('status');
    assert.equal(result.error?.code, 'DISCONNECTED', JSON.stringify(result));
    assert.match(result.error.message, /native messaging host not found/i);
});

test(
    'a host that dies is reported with Chromium\'s reason; the next call reconnects with HELLO',
    async () => {
        const before = knownRuns();
        const client = await Client.open();
        await client.value('status');
        const [run] = freshRuns(before);
        const {session: first} = await client.state();

        // The host is the wrapper's only child; ending it is what a crash looks like to Chromium.
        const children = fs.readFileSync(`/proc/${run.pid}/task/${run.pid}/children`, 'utf8')
                             .trim()
                             .split(/\s+/)
                             .map(Number);
        assert.equal(children.length, 1, JSON.stringify(children));
        process.kill(children[0], 'SIGKILL');
        let disconnects = [];
        for (const deadline = Date.now() + 5000; disconnects.length === 0;) {
            assert.ok(Date.now() < deadline, 'the client never saw the port close');
            await new Promise((resolve) => setTimeout(resolve, 20));
            ({disconnects} = await client.state());
        }
        assert.match(disconnects[0], /^the host disconnected: Native host has exited\.$/);

        const status = await client.value('status');
        const {session, hello} = await client.state();
        assert.equal(session.id, first.id);
        assert.equal(session.epoch, first.epoch + 1);
        assert.deepEqual(status.session, session);
        assert.equal(hello.type, 'HELLO_OK');
        assert.equal(freshRuns(before).length, 2);
        await client.close();
    });

test(
    'a 16 MiB clip is prepared through the client; its time against the browser\'s base64',
    async (t) => {
        const made = await browser.makeClip('max', maxMidiBytes, 14);
        const times = await browser.evaluate((k) => globalThis.bridgeClients.encodeTimes(k), 'max');
        assert.equal(times.same, true);
        const result =
            await main.prepare('max', {clipId: 'clip-max', generation: 1, name: 'Whole song'});
        await browser.forgetClip('max');
        assert.equal(result.value?.type, 'PREPARED', JSON.stringify(result));
        assert.equal(result.value.byteLength, maxMidiBytes);
        assert.equal(result.value.sha256, made.sha256);
        const stored = fs.readFileSync(cache.clipPath(result.value));
        assert.equal(createHash('sha256').update(stored).digest('hex'), made.sha256);
        const line = `16 MiB: prepare() ${result.ms.toFixed(0)} ms in all (hash, base64, ` +
            `Chromium, host); base64 ${times.clientMs.toFixed(1)} ms, chunked fallback ` +
            `${times.chunkedMs.toFixed(1)} ms, browser's own ${times.browserMs.toFixed(1)} ms` +
            ` (toBase64: ${times.hasToBase64})`;
        t.diagnostic(line);
        console.log(line);
        const released = await main.value('release', result.value.preparedId);
        assert.equal(released.preparedId, result.value.preparedId);
        assert.equal(cache.exists(result.value.preparedId), false);
    });

test('close() ends the host with status 0', async () => {
    await main.close();
    const runs = await waitFor(() => {
        const runs = freshRuns(known);
        return runs.every((r) => r.exit !== null) && runs;
    }, 5000, () => JSON.stringify(sandbox.hostRuns()));
    const killed = runs.filter((r) => r.exit !== 0);
    // Only the host ended on purpose above exits otherwise (the shell reports a SIGKILL as 137).
    assert.deepEqual(killed.map((r) => r.exit), [137]);
    for (const r of runs) {
        assert.doesNotMatch(r.stderr, /internal-error/, `host run ${r.pid}`);
    }
});
