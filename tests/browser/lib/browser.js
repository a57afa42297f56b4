// Starts Debian's Chromium headless with the test extension loaded and hands out a driver for the
// extension's service worker: native ports, one-shot native messages and clips made in the worker.

import {createHash} from 'node:crypto';
import fs from 'node:fs';
import path from 'node:path';
import assert from 'node:assert/strict';
import {chromium} from 'playwright-core';

import {here} from './sandbox.js';

export const extensionDir = path.resolve(here, '..', 'extension');

// Chromium's rule for an unpacked extension with a "key": SHA-256 of the key's SPKI bytes, the
// first 32 hex digits written with the letters a-p for 0-f.
export function extensionIdFromKey(base64Key) {
    const hex = createHash('sha256').update(Buffer.from(base64Key, 'base64')).digest('hex');
    return [...hex.slice(0, 32)]
        .map((digit) => String.fromCharCode(97 + parseInt(digit, 16)))
        .join('');
}

export const testExtensionKey =
    JSON.parse(fs.readFileSync(path.join(extensionDir, 'manifest.json'), 'utf8')).key;
export const testExtensionId = extensionIdFromKey(testExtensionKey);
export const testOrigin = `chrome-extension://${testExtensionId}/`;

export function chromiumExecutable() {
    const candidates =
        [process.env.QUENRA_CHROMIUM, '/usr/lib/chromium/chromium', '/usr/bin/chromium'];
    const found = candidates.find((candidate) => candidate && fs.existsSync(candidate));
    if (!found) {
        throw new Error('Chromium is not installed (apt-get install chromium)');
    }
    return found;
}

const chromiumFlags = [
    '--disable-gpu',
    '--disable-quic',
    '--no-first-run',
    '--disable-background-networking',
    '--disable-component-update',
    '--disable-sync',
];

export class Browser {
    // Loads the test extension, or another one whose manifest carries the test extension's key
    // (so that its ID, and the origin of its worker, are the same).
    static async launch(sandbox, {extension = extensionDir} = {}) {
        const context = await chromium.launchPersistentContext(sandbox.userData, {
            executablePath: chromiumExecutable(),
            headless: true,
            env: sandbox.env(),
            args: [
                ...chromiumFlags, `--disable-extensions-except=${extension}`,
                `--load-extension=${extension}`
            ],
        });
        try {
            const worker = context.serviceWorkers().find((w) => w.url().startsWith(testOrigin)) ??
                (await context.waitForEvent('serviceworker', {
                               predicate: (w) => w.url().startsWith(testOrigin),
                               timeout: 15000,
                           }));
            return new Browser(context, worker);
        } catch (error) {
            await context.close();
            throw error;
        }
    }

    constructor(context, worker) {
        this.context = context;
        this.worker = worker;
    }

    evaluate(fn, arg) { return this.worker.evaluate(fn, arg); }

    extensionId() { return this.evaluate(() => globalThis.peer.extensionId); }

    async connect(host) {
        const id = await this.evaluate((name) => globalThis.peer.connect(name), host);
        return new NativePort(this, id);
    }

    sendOnce(host, message) {
        return this.evaluate(
            ([name, body]) => globalThis.peer.sendOnce(name, body), [host, message]);
    }

    makeClip(key, byteLength, seed) {
        return this.evaluate(
            ([k, n, s]) => globalThis.peer.makeClip(k, n, s), [key, byteLength, seed]);
    }

    forgetClip(key) { return this.evaluate((k) => globalThis.peer.forgetClip(k), key); }

    close() { return this.context.close(); }
}

export class NativePort {
    constructor(browser, id) {
        this.browser = browser;
        this.id = id;
    }

    post(message) {
        return this.browser.evaluate(([id, m]) => globalThis.peer.post(id, m), [this.id, message]);
    }

    postPrepare(clipKey, fields) {
        return this.browser.evaluate(
            ([id, k, f]) => globalThis.peer.postPrepare(id, k, f), [this.id, clipKey, fields]);
    }

    postPadded(message, padBytes) {
        return this.browser.evaluate(
            ([id, m, n]) => globalThis.peer.postPadded(id, m, n), [this.id, message, padBytes]);
    }

    // {message}, {disconnected: text} or {timedOut: true}.
    receive(timeoutMs = 10000) {
        return this.browser.evaluate(
            ([id, t]) => globalThis.peer.receive(id, t), [this.id, timeoutMs]);
    }

    // The next message; anything else (a closed port, silence) fails with what happened.
    async next(timeoutMs = 10000) {
        const result = await this.receive(timeoutMs);
        if (!result.message) {
            throw new Error(`expected a message from the host, got ${JSON.stringify(result)}`);
        }
        return result.message;
    }

    queued() { return this.browser.evaluate((id) => globalThis.peer.queued(id), this.id); }

    disconnect() { return this.browser.evaluate((id) => globalThis.peer.disconnect(id), this.id); }
}

// What the test extension gets from a Chromium that found hostName's manifest, whose
// allowed_origins leave it out: a refusal on a one-off message and on a port alike. A name with
// no manifest gets another answer, so the refusal came from the manifest that was found.
export async function expectFoundButForbidden(browser, hostName) {
    const forbidden = 'Access to the specified native messaging host is forbidden.';
    assert.deepEqual(await browser.sendOnce(hostName, {type: 'HELLO'}), {error: forbidden});
    const port = await browser.connect(hostName);
    assert.deepEqual(await port.receive(5000), {disconnected: forbidden});
    const absent = await browser.sendOnce('tech.ostrell.quenra.no_such_host', {type: 'HELLO'});
    assert.deepEqual(absent, {error: 'Specified native messaging host not found.'});
}
