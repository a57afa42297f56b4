// One browser-session's connection to the real host through Chromium, with the request envelope
// filled in, plus what the suite reads back from the host's cache and the drag board.

import {randomBytes} from 'node:crypto';
import fs from 'node:fs';
import path from 'node:path';

import {bridgeTestHostName, bridgeWrapperName, buildDir, waitFor} from './sandbox.js';

export const protocolVersion = '1.0';

function sessionId() {
    return randomBytes(18).toString('base64url');  // 24 identifier characters
}

export class BridgeConnection {
    static async open(browser, sandbox) {
        const known = new Set(sandbox.hostRuns(bridgeWrapperName).map((run) => run.pid));
        const port = await browser.connect(bridgeTestHostName);
        return new BridgeConnection(browser, sandbox, port, known);
    }

    constructor(browser, sandbox, port, knownRuns) {
        this.browser = browser;
        this.sandbox = sandbox;
        this.port = port;
        this.knownRuns = knownRuns;
        this.session = {id: sessionId(), epoch: 1};
        this.counter = 0;
    }

    request(type, fields = {}) {
        this.counter += 1;
        return {
            protocolVersion,
            session: this.session,
            requestId: `req-${this.counter}`,
            type,
            ...fields
        };
    }

    // Sends one request and returns [request, the next message from the host].
    async exchange(type, fields = {}) {
        const request = this.request(type, fields);
        await this.port.post(request);
        return [request, await this.answer()];
    }

    async answer(timeoutMs = 10000) {
        const message = await this.port.next(timeoutMs);
        this.identifyRun();
        return message;
    }

    async hello() { return this.exchange('HELLO', {extensionVersion: '0.1.0'}); }

    async prepare(clipKey, clipId, generation, suggestedName) {
        const request = this.request('PREPARE', {clipId, generation, suggestedName});
        await this.port.postPrepare(clipKey, request);
        return [request, await this.answer(30000)];
    }

    async arm(prepared) {
        return this.exchange('ARM', {
            preparedId: prepared.preparedId,
            clipId: prepared.clipId,
            generation: prepared.generation,
            sha256: prepared.sha256,
        });
    }

    // Ties this connection to the wrapper run Chromium started for it, on the host's first
    // answer: connections are opened one after the other, each answered before the next opens.
    identifyRun() {
        if (this.pid !== undefined) {
            return;
        }
        const fresh =
            this.sandbox.hostRuns(bridgeWrapperName).filter((run) => !this.knownRuns.has(run.pid));
        if (fresh.length !== 1) {
            throw new Error(`expected one new host run, found ${JSON.stringify(fresh)}`);
        }
        this.pid = fresh[0].pid;
    }

    run() {
        if (this.pid === undefined) {
            throw new Error('the host has not answered this connection yet');
        }
        return this.sandbox.hostRuns(bridgeWrapperName).find((run) => run.pid === this.pid);
    }

    async disconnect() {
        await this.port.disconnect();
        return this.waitForExit();
    }

    async waitForExit() {
        return waitFor(
            () => this.run()?.exit !== null && this.run(),
            5000,
            () => `the host's exit: ${JSON.stringify(this.run())}`,
        );
    }
}

// The reply envelope the host must put around a body for this connection.
export function reply(connection, request, type, body) {
    return {
        ...body,
        type,
        protocolVersion,
        session: connection.session,
        requestId: request.requestId
    };
}

export function errorReply(connection, request, code) {
    return reply(connection, request, 'ERROR', {code});
}

export class CacheView {
    constructor(sandbox) { this.sandbox = sandbox; }

    entryDirectory(preparedId) { return path.join(this.sandbox.entriesDirectory, preparedId); }

    exists(preparedId) { return fs.existsSync(this.entryDirectory(preparedId)); }

    record(preparedId) {
        return JSON.parse(
            fs.readFileSync(path.join(this.entryDirectory(preparedId), 'entry.json'), 'utf8'));
    }

    clipPath(prepared) {
        return path.join(this.entryDirectory(prepared.preparedId), prepared.fileName);
    }

    // The cache's usage as the host counts it: entry directories and the byte lengths recorded.
    usage() {
        let entries = 0;
        let bytes = 0;
        const names = fs.existsSync(this.sandbox.entriesDirectory) ?
            fs.readdirSync(this.sandbox.entriesDirectory) :
            [];
        for (const name of names.filter((name) => /^[0-9a-f]{32}$/.test(name))) {
            entries += 1;
            try {
                bytes += this.record(name).byteLength;
            } catch {
                // An entry without a readable record counts, with no bytes.
            }
        }
        return {entries, bytes};
    }
}

function findExecutable(root, name) {
    const stack = [root];
    while (stack.length > 0) {
        const dir = stack.pop();
        let items;
        try {
            items = fs.readdirSync(dir, {withFileTypes: true});
        } catch {
            continue;
        }
        for (const item of items) {
            const full = path.join(dir, item.name);
            if (item.isDirectory() && item.name !== 'CMakeFiles') {
                stack.push(full);
            } else if (item.isFile() && item.name === name) {
                return full;
            }
        }
    }
    return null;
}

export function dragSimPath() {
    const found = process.env.QUENRA_DRAG_SIM ??
        findExecutable(path.join(buildDir, 'tools'), 'quenra-drag-sim');
    if (!found) {
        throw new Error(`quenra-drag-sim is not built under ${buildDir}/tools`);
    }
    return found;
}

export function dragSim(sandbox, ...args) {
    const result = sandbox.run(dragSimPath(), args);
    if (result.status !== 0) {
        throw new Error(
            `quenra-drag-sim ${args.join(' ')} exited ${result.status}: ${result.stderr}`);
    }
    return result.stdout;
}
