// The harness itself, against a test-only echo host: Chromium loads the test extension under the
// ID its key gives, finds a user-level host manifest in the profile, starts the host with the
// caller's origin, frames messages both ways, and closes the host's input on disconnect.

import assert from 'node:assert/strict';
import {after, before, test} from 'node:test';

import {Browser, testExtensionId, testOrigin} from './lib/browser.js';
import {echoHostName, Sandbox, waitFor} from './lib/sandbox.js';

const sandbox = new Sandbox('harness');
let browser;

before(async () => {
    sandbox.registerEchoHost([testOrigin]);
    browser = await Browser.launch(sandbox);
});

after(async () => {
    await browser?.close();
    sandbox.remove();
});

test('the test extension runs under the ID its key gives', async () => {
    assert.equal(testExtensionId, 'afilpndekkcjedbghnodnlkijkoagalg');
    assert.equal(await browser.extensionId(), testExtensionId);
});

test(
    'a port to the echo host carries messages both ways and its disconnect ends the host',
    async () => {
        const before = sandbox.hostRuns().length;
        const port = await browser.connect(echoHostName);
        const message = {
            text: 'Grüße, 드래그 / \u0000 end',
            numbers: [0, -1, 2.5],
            nested: {ok: true}
        };
        await port.post(message);
        const reply = await port.next();
        assert.deepEqual(reply.echo, message);
        // Chromium sends compact JSON: the frame is as long as JSON.stringify's text.
        assert.equal(reply.bytes, Buffer.byteLength(JSON.stringify(message)));
        assert.deepEqual(reply.argv, [testOrigin]);
        assert.equal(reply.cwd, sandbox.wrappers);

        await port.post({second: 2});
        assert.deepEqual((await port.next()).echo, {second: 2});

        await port.disconnect();
        const runs = await waitFor(
            () => {
                const runs = sandbox.hostRuns();
                return runs.length === before + 1 && runs.at(-1).exit !== null && runs;
            },
            5000,
            () => `the echo host's exit: ${JSON.stringify(sandbox.hostRuns())}`,
        );
        assert.equal(runs.at(-1).exit, 0);
        assert.deepEqual(runs.at(-1).args, [testOrigin]);
    });

test('sendNativeMessage gets the echo host\'s one reply', async () => {
    const result = await browser.sendOnce(echoHostName, {once: true});
    assert.deepEqual(result.reply?.echo, {once: true}, JSON.stringify(result));
});

test('a host name without a manifest is not found', async () => {
    const result = await browser.sendOnce('tech.ostrell.quenra.absent_browsertest', {once: true});
    assert.deepEqual(result, {error: 'Specified native messaging host not found.'});
});
