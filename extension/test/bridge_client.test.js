// BridgeClient against a scripted port: the envelope and request ids on the wire, replies
// matched out of order, events between replies, error codes, timeouts, a lost host and the
// reconnect after it, and the requests refused before anything is sent.

import assert from 'node:assert/strict';
import {test} from 'node:test';

import {BridgeClient, BridgeError, developmentExtensionId, hostNameFor, releaseExtensionId, releaseHostName,} from '../quenra-bridge.js';

import {FakeRuntime} from './fake-runtime.js';

function client(options = {}) {
    const runtime = new FakeRuntime();
    return {runtime, client: new BridgeClient({runtime, hostName: 'test.host', ...options})};
}

const prepared = {
    preparedId: '0123456789abcdef0123456789abcdef',
    clipId: 'clip-a',
    generation: 3,
    sha256: 'ab'.repeat(32),
};

test('the first call opens the port and sends a valid HELLO before the request', async () => {
    const {runtime, client: bridge} = client();
    const status = bridge.status();
    const port = await runtime.port(0);
    assert.equal(port.name, 'test.host');
    const hello = await port.greet();
    assert.equal(hello.type, 'HELLO');
    assert.equal(hello.protocolVersion, '1.0');
    assert.equal(hello.extensionVersion, '0.1.0');
    assert.match(hello.session.id, /^[A-Za-z0-9_-]{16,64}$/);
    assert.ok(
        Number.isInteger(hello.session.epoch) && hello.session.epoch >= 1 &&
        hello.session.epoch <= 2147483647);
    assert.match(hello.requestId, /^[A-Za-z0-9_-]{1,64}$/);

    const request = await port.next();
    assert.deepEqual(
        Object.keys(request).sort(), ['protocolVersion', 'requestId', 'session', 'type']);
    assert.deepEqual(request.session, hello.session);
    assert.notEqual(request.requestId, hello.requestId);
    port.answer(request, 'STATUS', {armed: false, preparations: 0});
    assert.equal((await status).armed, false);
    assert.equal(bridge.hello.helperVersion, '0.1.0');
    assert.equal(new BridgeClient({runtime}).hostName, releaseHostName);
});

test('replies are matched by request id, not by order, and events reach their token', async () => {
    const {runtime, client: bridge} = client();
    const first = bridge.status();
    const port = await runtime.port(0);
    await port.greet();
    const statusRequest = await port.next();
    const armed = bridge.arm(prepared);
    const cancelled = bridge.cancel('t'.repeat(22));
    const armRequest = await port.next();
    const cancelRequest = await port.next();
    assert.deepEqual(
        {...armRequest, requestId: undefined, session: undefined, protocolVersion: undefined}, {
            type: 'ARM',
            ...prepared,
            requestId: undefined,
            session: undefined,
            protocolVersion: undefined
        });
    assert.equal(
        new Set([statusRequest, armRequest, cancelRequest].map((r) => r.requestId)).size, 3);

    const token = 'A'.repeat(22);
    const seen = [];
    const all = [];
    bridge.onEvent(token, (event) => seen.push(event.type));
    bridge.onEvent('*', (event) => all.push(event.token));
    port.answer(cancelRequest, 'CANCELLED', {token: 't'.repeat(22), wasActive: false});
    port.answer(armRequest, 'ARMED', {...prepared, token, marker: 'm', leaseMs: 10000});
    // An event for another token, then ours, between replies.
    port.event(armRequest.session, 'EXPIRED', {token: 'B'.repeat(22)});
    const drag = await armed;
    port.event(
        armRequest.session, 'PUBLISHED', {token, preparedId: prepared.preparedId, generation: 3});
    port.answer(statusRequest, 'STATUS', {armed: true});
    assert.equal((await first).armed, true);
    assert.equal((await cancelled).wasActive, false);
    assert.equal(drag.token, token);
    assert.equal((await drag.outcome).type, 'PUBLISHED');
    assert.deepEqual(seen, ['PUBLISHED']);
    assert.deepEqual(all, ['B'.repeat(22), token]);
});

test('every ERROR reply rejects its call with a BridgeError carrying the wire code', async () => {
    const codes = [
        'BAD_REQUEST', 'UNSUPPORTED_VERSION', 'NOT_READY', 'TOO_LARGE', 'LENGTH_MISMATCH',
        'HASH_MISMATCH', 'NOT_MIDI', 'UNKNOWN_PREPARED', 'STALE', 'BUSY', 'CACHE_FULL',
        'RATE_LIMITED', 'DUPLICATE_REQUEST', 'INTERNAL'
    ];
    const {runtime, client: bridge} = client();
    const calls = codes.map(() => bridge.release(prepared.preparedId));
    const port = await runtime.port(0);
    await port.greet();
    for (const code of codes) {
        const request = await port.next();
        port.answer(request, 'ERROR', {code});
    }
    for (const [index, call] of calls.entries()) {
        await assert.rejects(
            call,
            (error) => error instanceof BridgeError && error.code === codes[index] &&
                error.reply.type === 'ERROR');
    }
});

test('a HELLO refused ends the port, and the next call opens a new one', async () => {
    const {runtime, client: bridge} = client();
    const first = bridge.status();
    const port = await runtime.port(0);
    const hello = await port.next();
    port.answer(hello, 'ERROR', {code: 'STALE'});
    await assert.rejects(first, {code: 'STALE'});
    assert.equal(port.closed, true);

    const second = bridge.status();
    const again = await runtime.port(1);
    await again.greet();
    again.answer(await again.next(), 'STATUS', {armed: false});
    assert.equal((await second).armed, false);
});

test('a reply that does not come in time is a TIMEOUT, and a late one is dropped', async () => {
    const {runtime, client: bridge} = client({timeoutMs: 30});
    const status = bridge.status();
    const port = await runtime.port(0);
    await port.greet();
    const request = await port.next();
    await assert.rejects(status, {code: 'TIMEOUT'});
    port.answer(request, 'STATUS', {});  // late: nobody waits for it

    const next = bridge.status();
    const nextRequest = await port.next();
    port.answer(nextRequest, 'STATUS', {armed: true});
    assert.equal((await next).armed, true);
    assert.equal(runtime.ports.length, 1);
});

test(
    'a lost host rejects every waiting call with lastError\'s text; the next call reconnects',
    async () => {
        const {runtime, client: bridge} = client();
        const disconnects = [];
        bridge.onDisconnect((error) => disconnects.push(error.message));
        const status = bridge.status();
        const port = await runtime.port(0);
        const hello = await port.greet();
        await port.next();  // the STATUS, never answered
        const armed = bridge.arm(prepared);
        port.answer(
            await port.next(), 'ARMED',
            {...prepared, token: 'C'.repeat(22), marker: 'm', leaseMs: 10000});
        const drag = await armed;
        port.hostGone('Native host has exited.');
        await assert.rejects(
            status,
            (error) => error instanceof BridgeError && error.code === 'DISCONNECTED' &&
                /Native host has exited\./.test(error.message));
        assert.equal(await drag.outcome, null);
        assert.equal(disconnects.length, 1);
        assert.equal(bridge.hello, null);

        const again = bridge.status();
        const second = await runtime.port(1);
        const secondHello = await second.greet();
        assert.equal(secondHello.type, 'HELLO');
        assert.equal(secondHello.session.id, hello.session.id);
        assert.equal(secondHello.session.epoch, hello.session.epoch + 1);
        second.answer(await second.next(), 'STATUS', {armed: false});
        assert.equal((await again).armed, false);
    });

test('a host that cannot be started rejects the first call with Chromium\'s reason', async () => {
    for (const reason
             of ['Specified native messaging host not found.',
                 'Access to the specified native messaging host is forbidden.']) {
        const {runtime, client: bridge} = client();
        const call = bridge.status();
        const port = await runtime.port(0);
        await port.next();
        port.hostGone(reason);
        await assert.rejects(
            call, (error) => error.code === 'DISCONNECTED' && error.message.includes(reason));
    }
});

test('close() rejects waiting calls and closes the port', async () => {
    const {runtime, client: bridge} = client();
    const call = bridge.status();
    const port = await runtime.port(0);
    await port.greet();
    await port.next();
    bridge.close();
    assert.equal(port.closed, true);
    await assert.rejects(call, {code: 'DISCONNECTED'});
});

test('the development build of the extension names the development registration', async () => {
    for (const [id, name] of [
             [developmentExtensionId, 'tech.ostrell.quenra.bridge_dev'],
             [releaseExtensionId, releaseHostName],
             ['afilpndekkcjedbghnodnlkijkoagalg', releaseHostName],
    ]) {
        const runtime = new FakeRuntime();
        const bridge = new BridgeClient({runtime, hostName: hostNameFor(id)});
        bridge.status().catch(() => {});
        assert.equal((await runtime.port(0)).name, name, id);
        bridge.close();
    }
});

test('a list of clips is armed as one drag, and its PUBLISHED names every clip', async () => {
    const parts = ['drums', 'bass', 'chords'].map((clipId, index) => ({
                                                      ...prepared,
                                                      type: 'PREPARED',
                                                      preparedId: `${index}`.repeat(32),
                                                      clipId,
                                                      byteLength: 100,
                                                      fileName: `${clipId}.mid`,
                                                  }));
    const {runtime, client: bridge} = client();
    const armed = bridge.arm(parts);
    const port = await runtime.port(0);
    await port.greet(['drag-takeover-1', 'multi-clip-drag-1']);
    const request = await port.next();
    assert.deepEqual(
        Object.keys(request).sort(), ['clips', 'protocolVersion', 'requestId', 'session', 'type']);
    assert.deepEqual(
        request.clips,
        parts.map(
            ({preparedId, clipId, generation, sha256}) =>
                ({preparedId, clipId, generation, sha256})));

    const token = 'L'.repeat(22);
    const clips =
        parts.map(({preparedId, clipId, generation}) => ({preparedId, clipId, generation}));
    port.answer(request, 'ARMED', {clips, token, marker: 'm', leaseMs: 10000});
    const drag = await armed;
    assert.deepEqual(drag.clips, clips);
    const published = parts.map(({preparedId, generation}) => ({preparedId, generation}));
    port.event(request.session, 'PUBLISHED', {token, clips: published});
    assert.deepEqual((await drag.outcome).clips, published);
});

test(
    'a list the host would refuse, or a host that arms one clip, fails before the ARM',
    async () => {
        const list = (count) => Array.from(
            {length: count},
            (_, index) => ({...prepared, preparedId: index.toString(16).padStart(32, '0')}));
        const {runtime, client: bridge} = client();
        for (const [what, refused] of [
                 ['empty', list(0)], ['one clip', list(1)], ['seventeen clips', list(17)],
                 ['a clip twice', [...list(2), list(1)[0]]]]) {
            await assert.rejects(bridge.arm(refused), {code: 'BAD_REQUEST'}, what);
        }
        assert.equal(runtime.ports.length, 0);

        // Sixteen are allowed, but this host does not name the capability.
        const armed = bridge.arm(list(16));
        const port = await runtime.port(0);
        await port.greet();
        await assert.rejects(
            armed,
            (error) => error instanceof BridgeError && error.code === 'NOT_SUPPORTED' &&
                /update/.test(error.message));
        assert.equal(port.posted.length, 0);
    });

// Runs the client for a while of real time, with its timers stopped.
async function idle(ms) {
    const end = performance.now() + ms;
    while (performance.now() < end) {
        await new Promise((resolve) => setImmediate(resolve));
    }
}

// A client that waits too long never sends the next burst: the time limit fails it.
test(
    'sixteen PREPAREs at once wait for the host\'s rate window, none refused', {timeout: 20000},
    async (t) => {
        t.mock.timers.enable({apis: ['setTimeout', 'Date'], now: 0});
        const {runtime, client: bridge} = client({now: () => Date.now()});
        // Three clips of the largest size fill the window's 48 MiB; the rest are small.
        const sizes = Array.from({length: 16}, (_, index) => (index < 3 ? 16777216 : 64));
        const calls = sizes.map(
            (size, index) => bridge.prepare(
                new Uint8Array(size),
                {clipId: `part-${index}`, generation: 1, name: `Part ${index}`}));
        const port = await runtime.port(0);
        await port.greet();

        // The host's rule: a PREPARE is counted when read; one read when 8 were read within the
        // last 2 seconds, or whose bytes would take the window's past 48 MiB, is refused.
        const window = [];
        const read = [];
        async function host(count) {
            for (let index = 0; index < count; index++) {
                const request = await port.next();
                const now = Date.now();
                window.splice(0, window.filter((p) => p.at <= now - 2000).length);
                const bytes = window.reduce((sum, p) => sum + p.bytes, 0) + request.byteLength;
                if (window.length >= 8 || bytes > 50331648) {
                    port.answer(request, 'ERROR', {code: 'RATE_LIMITED'});
                    continue;
                }
                window.push({at: now, bytes: request.byteLength});
                read.push([request.clipId, now]);
                port.answer(request, 'PREPARED', {clipId: request.clipId, generation: 1});
            }
        }
        // Three by bytes, then eight by count, then the last five; each burst once its window ends.
        const bursts = [3, 8, 5];
        for (const [index, count] of bursts.entries()) {
            await host(count);
            if (index < bursts.length - 1) {
                await idle(50);
                assert.equal(port.posted.length, 0, `nothing more before the window ends`);
                t.mock.timers.tick(2000);
                await idle(20);
                assert.equal(port.posted.length, 0, `nothing at the window's very edge`);
                t.mock.timers.tick(100);
            }
        }
        const replies = await Promise.all(calls);
        assert.deepEqual(replies.map((r) => r.type), sizes.map(() => 'PREPARED'));
        assert.deepEqual(read.map(([clipId]) => clipId), sizes.map((_, index) => `part-${index}`));
        assert.deepEqual(
            read.map(([, at]) => at), [0, 0, 0, ...Array(8).fill(2100), ...Array(5).fill(4200)]);
    });

test(
    'a drag the host ends without an event, for the client\'s own request, ends null', async () => {
        const parts = ['drums', 'bass'].map(
            (clipId, index) => ({...prepared, preparedId: `${index + 1}`.repeat(32), clipId}));
        const {runtime, client: bridge} = client();
        const first = bridge.arm(parts);
        const port = await runtime.port(0);
        await port.greet(['drag-takeover-1', 'multi-clip-drag-1']);
        const newer = {clipId: 'drums', generation: prepared.generation + 1, name: 'Drums'};
        const ended = [];
        for (const [what, end] of [
                 ['another ARM', () => bridge.arm({...prepared, preparedId: 'f'.repeat(32)})],
                 ['RELEASE of one of its clips', () => bridge.release(parts[1].preparedId)],
                 ['a newer generation of one', () => bridge.prepare(new Uint8Array(40), newer)],
        ]) {
            const call = ended.length === 0 ? first : bridge.arm(parts);
            const armRequest = await port.next();
            const token = `${ended.length}`.repeat(22);
            port.answer(armRequest, 'ARMED', {clips: parts, token, marker: 'm', leaseMs: 10000});
            const {outcome} = await call;
            const ending = end();
            const request = await port.next();
            port.answer(
                request, request.type === 'ARM' ? 'ARMED' : `${request.type}D`,
                {...newer, token: 'o'.repeat(22)});
            await ending;
            ended.push([what, await outcome]);
        }
        assert.deepEqual(ended, [
            ['another ARM', null], ['RELEASE of one of its clips', null],
            ['a newer generation of one', null]
        ]);
    });

// What a promise has settled with once the microtasks queued so far have run, or 'pending'.
function settledValue(promise) {
    return Promise.race(
        [promise, new Promise((resolve) => setImmediate(() => resolve('pending')))]);
}

test('a switch to other clips that the host refuses still ends the earlier outcome', async () => {
    const {runtime, client: bridge} = client();
    const first = bridge.arm(prepared);
    const port = await runtime.port(0);
    await port.greet();
    port.answer(await port.next(), 'ARMED', {...prepared, token: 'D'.repeat(22), marker: 'm'});
    const {outcome} = await first;

    // The host ended the armed drag before it found the arm lease taken by another host.
    const second = bridge.arm({...prepared, preparedId: 'e'.repeat(32)});
    assert.equal(await settledValue(outcome), 'pending');
    port.answer(await port.next(), 'ERROR', {code: 'BUSY'});
    await assert.rejects(second, {code: 'BUSY'});
    assert.equal(await settledValue(outcome), null);
});
