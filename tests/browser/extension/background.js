// Test-only peer of the native host. The browser suite drives these functions through the
// DevTools connection (worker.evaluate), so every message reaches the host the way an
// extension's would: framed and limited by Chromium's own native messaging code.
//
// Large clips and padding are built here, inside the worker, so that tens of megabytes never
// have to cross the DevTools connection; only their hashes go back to the suite.

import {base64 as clientBase64, BridgeClient} from './quenra-bridge.js';

const ports = new Map();
const clips = new Map();
let nextPortId = 1;

function portRecord(id) {
    const record = ports.get(id);
    if (!record) {
        throw new Error(`no port ${id}`);
    }
    return record;
}

function wake(record) {
    const waiters = record.waiters.splice(0);
    for (const waiter of waiters) {
        waiter();
    }
}

function base64(bytes) {
    if (typeof bytes.toBase64 === 'function') {
        return bytes.toBase64();
    }
    // btoa takes a binary string; building it in slices keeps the argument lists short.
    const parts = [];
    for (let start = 0; start < bytes.length; start += 0x8000) {
        parts.push(String.fromCharCode.apply(null, bytes.subarray(start, start + 0x8000)));
    }
    return btoa(parts.join(''));
}

async function sha256Hex(bytes) {
    const digest = new Uint8Array(await crypto.subtle.digest('SHA-256', bytes));
    return Array.from(digest, (byte) => byte.toString(16).padStart(2, '0')).join('');
}

// A format-0 Standard MIDI File of exactly byteLength bytes (at least 33): a header, then one
// track of notes whose pitch depends on seed, a text event that absorbs the remainder, and the
// End of Track event.
function midiClip(byteLength, seed) {
    if (!Number.isInteger(byteLength) || byteLength < 33) {
        throw new Error(`a clip needs at least 33 bytes, not ${byteLength}`);
    }
    const bytes = new Uint8Array(byteLength);
    bytes.set([0x4d, 0x54, 0x68, 0x64, 0, 0, 0, 6, 0, 0, 0, 1, 0, 96], 0);
    const trackLength = byteLength - 22;
    bytes.set([0x4d, 0x54, 0x72, 0x6b], 14);
    new DataView(bytes.buffer).setUint32(18, trackLength);

    const events = trackLength - 3;
    const notes = Math.floor((events - 8) / 8);
    const pitch = 36 + (seed % 48);
    const note = [0x00, 0x90, pitch, 0x64, 0x60, 0x80, pitch, 0x00];
    let position = 22;
    if (notes > 0) {
        bytes.set(note, position);
        let filled = 8;
        const total = notes * 8;
        while (filled < total) {
            const copy = Math.min(filled, total - filled);
            bytes.copyWithin(position + filled, position, position + copy);
            filled += copy;
        }
        position += total;
    }
    const textLength = events - Math.max(notes, 0) * 8 - 4;
    bytes.set([0x00, 0xff, 0x01, textLength], position);
    position += 4;
    for (let i = 0; i < textLength; i++) {
        bytes[position + i] = 0x61 + ((seed + i) % 26);
    }
    position += textLength;
    bytes.set([0xff, 0x2f, 0x00], position);
    return bytes;
}

globalThis.peer = {
    extensionId: chrome.runtime.id,

    connect(host) {
        const id = nextPortId++;
        const record = {
            port: chrome.runtime.connectNative(host),
            messages: [],
            disconnected: null,
            waiters: [],
        };
        record.port.onMessage.addListener((message) => {
            record.messages.push(message);
            wake(record);
        });
        record.port.onDisconnect.addListener(() => {
            record.disconnected = chrome.runtime.lastError?.message ?? '';
            wake(record);
        });
        ports.set(id, record);
        return id;
    },

    post(id, message) { portRecord(id).port.postMessage(message); },

    // Posts a PREPARE for a clip made by makeClip; fields may override the clip's own values.
    postPrepare(id, clipKey, fields) {
        const clip = clips.get(clipKey);
        if (!clip) {
            throw new Error(`no clip ${clipKey}`);
        }
        portRecord(id).port.postMessage({
            type: 'PREPARE',
            byteLength: clip.bytes.length,
            sha256: clip.sha256,
            midiBase64: clip.base64,
            ...fields,
        });
    },

    // Posts the message with one more member, "padding", of padBytes ASCII letters.
    postPadded(
        id, message,
        padBytes) { portRecord(id).port.postMessage({...message, padding: 'x'.repeat(padBytes)}); },

    // The next message from the host, or {disconnected: Chromium's error text} once the port
    // is closed and drained, or {timedOut: true}.
    async receive(id, timeoutMs) {
        const record = portRecord(id);
        const deadline = Date.now() + timeoutMs;
        for (;;) {
            if (record.messages.length > 0) {
                return {message: record.messages.shift()};
            }
            if (record.disconnected !== null) {
                return {disconnected: record.disconnected};
            }
            const left = deadline - Date.now();
            if (left <= 0) {
                return {timedOut: true};
            }
            await new Promise((resolve) => {
                const timer = setTimeout(resolve, left);
                record.waiters.push(() => {
                    clearTimeout(timer);
                    resolve();
                });
            });
        }
    },

    queued(id) { return portRecord(id).messages.length; },

    disconnect(id) {
        portRecord(id).port.disconnect();
        ports.delete(id);
    },

    async sendOnce(host, message) {
        try {
            return {reply: await chrome.runtime.sendNativeMessage(host, message)};
        } catch (error) {
            return {error: error.message};
        }
    },

    // Builds and keeps a clip; the base64 text goes back only for small clips.
    async makeClip(key, byteLength, seed) {
        const bytes = midiClip(byteLength, seed);
        const clip = {bytes, base64: base64(bytes), sha256: await sha256Hex(bytes)};
        clips.set(key, clip);
        return {
            byteLength,
            sha256: clip.sha256,
            base64: byteLength <= 65536 ? clip.base64 : null,
        };
    },

    forgetClip(key) { clips.delete(key); },
};

// The product's client (extension/quenra-bridge.js) in the same worker: the suite calls its
// methods by name and gets back plain values, a refusal as {error: {name, code, message}}.
const clients = new Map();
let nextClientId = 1;

function clientRecord(id) {
    const record = clients.get(id);
    if (!record) {
        throw new Error(`no client ${id}`);
    }
    return record;
}

// What crosses the DevTools connection: the reply without the outcome promise.
function plain(value) {
    if (value && typeof value === 'object' && 'outcome' in value) {
        const {outcome, ...rest} = value;
        return rest;
    }
    return value;
}

async function settled(promise) {
    try {
        return {value: plain(await promise)};
    } catch (error) {
        return {error: {name: error.name, code: error.code ?? null, message: error.message}};
    }
}

globalThis.bridgeClients = {
    open(options) {
        const id = nextClientId++;
        const client = new BridgeClient(options);
        const record = {client, events: [], disconnects: [], armed: new Map(), waiters: []};
        client.onEvent('*', (event) => {
            record.events.push(event);
            wake(record);
        });
        client.onDisconnect((error) => record.disconnects.push(error.message));
        clients.set(id, record);
        return id;
    },

    state(id) {
        const {client, disconnects} = clientRecord(id);
        return {session: client.session, hello: client.hello, disconnects};
    },

    // method is one of status, arm, cancel, release; args as the method takes them.
    call(id, method, args) {
        const record = clientRecord(id);
        return settled(record.client[method](...args).then((value) => {
            if (method === 'arm') {
                record.armed.set(value.token, value.outcome);
            }
            return value;
        }));
    },

    // Prepares a clip made by peer.makeClip (or its bytes with overrides) and times the call.
    async prepare(id, clipKey, clip) {
        const bytes = clips.get(clipKey)?.bytes;
        if (!bytes) {
            throw new Error(`no clip ${clipKey}`);
        }
        const started = performance.now();
        const result = await settled(clientRecord(id).client.prepare(bytes, clip));
        return {...result, ms: performance.now() - started};
    },

    // The client's base64 and SHA-256 of a kept clip against the browser's own base64, timed.
    async encodeTimes(clipKey) {
        const bytes = clips.get(clipKey).bytes;
        const own = (fn) => {
            const started = performance.now();
            const text = fn();
            return {ms: performance.now() - started, text};
        };
        const browserOwn =
            own(() => typeof bytes.toBase64 === 'function' ?
                    bytes.toBase64() :
                    btoa(Array.from(bytes, (b) => String.fromCharCode(b)).join('')));
        const chunkedBytes = new Uint8Array(bytes);
        chunkedBytes.toBase64 = undefined;
        const client = own(() => clientBase64(bytes));
        const chunked = own(() => clientBase64(chunkedBytes));
        return {
            hasToBase64: typeof bytes.toBase64 === 'function',
            browserMs: browserOwn.ms,
            clientMs: client.ms,
            chunkedMs: chunked.ms,
            same: client.text === browserOwn.text && chunked.text === browserOwn.text,
        };
    },

    // The drag's outcome: the event, null (ended without one), or {timedOut: true}.
    async outcome(id, token, timeoutMs) {
        const outcome = clientRecord(id).armed.get(token);
        let timer;
        const timeout = new Promise((resolve) => {
            timer = setTimeout(() => resolve({timedOut: true}), timeoutMs);
        });
        const result = await Promise.race([outcome, timeout]);
        clearTimeout(timer);
        return result;
    },

    // Breaks a kept clip's header, so that it is no longer a MIDI file.
    spoil(clipKey) { clips.get(clipKey).bytes[0] = 0x58; },

    events(id) { return clientRecord(id).events.splice(0); },

    close(id) {
        clientRecord(id).client.close();
        clients.delete(id);
    },
};
