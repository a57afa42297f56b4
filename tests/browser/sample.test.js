// The sample extension's page-to-extension path, as a web developer uses it: an ordinary web page
// served from http://127.0.0.1 reaches the sample (externally_connectable,
// chrome.runtime.sendMessage with its ID), which prepares the arrangement's three parts and arms
// all three as one drag through the real host behind Chromium; the drag is played on the drag
// board and the page reports the drop.

import assert from 'node:assert/strict';
import fs from 'node:fs';
import http from 'node:http';
import path from 'node:path';
import {fileURLToPath} from 'node:url';
import {after, before, test} from 'node:test';

import {dragSim} from './lib/bridge.js';
import {Browser, testExtensionId, testExtensionKey, testOrigin} from './lib/browser.js';
import {bridgeWrapperName, releaseHostName, Sandbox, sourceRoot, waitFor} from './lib/sandbox.js';

const sandbox = new Sandbox('sample');
const sampleSource = path.join(sourceRoot, 'extension', 'sample');
const sampleCopy = path.join(sandbox.root, 'sample-extension');
const servers = new Map();  // address → HTTP server of the web folder
// The hosts' music folder, named in the sandbox's user-dirs.dirs as the XDG rules have it, and
// the audio library in it.
const musicFolder = path.join(sandbox.home, 'Sound Files');
const library = path.join(musicFolder, 'Quenra Bridge');
let browser;

// The sample as a developer loads it, with the test key in place of the development key: its
// worker then has the test extension's ID and, not being the development build, asks for the
// release host name, registered here for that ID.
function copySample() {
    fs.cpSync(sampleSource, sampleCopy, {recursive: true, dereference: true});
    const manifestFile = path.join(sampleCopy, 'manifest.json');
    const manifest = JSON.parse(fs.readFileSync(manifestFile, 'utf8'));
    fs.writeFileSync(manifestFile, JSON.stringify({...manifest, key: testExtensionKey}, null, 2));
}

// The sample's web folder over HTTP, on 127.0.0.1 (a site the sample lists) and on 127.0.0.2 (one
// it doesn't).
async function serveWebFolder() {
    const folder = path.join(sampleSource, 'web');
    const types = {'.html': 'text/html', '.js': 'text/javascript', '.css': 'text/css'};
    const handler = (request, response) => {
        const name = path.basename(new URL(request.url, 'http://127.0.0.1').pathname);
        const file = path.join(folder, name);
        if (!fs.existsSync(file)) {
            response.writeHead(404).end();
            return;
        }
        response.writeHead(200, {'content-type': types[path.extname(name)] ?? 'text/plain'});
        response.end(fs.readFileSync(file));
    };
    for (const address of ['127.0.0.1', '127.0.0.2']) {
        const server = http.createServer(handler);
        await new Promise((resolve) => server.listen(0, address, resolve));
        servers.set(address, server);
    }
}

function pageAddress(host) {
    return `http://${host}:${servers.get(host).address().port}/index.html?extension=${
        testExtensionId}`;
}

// Reads until accept() takes the value, or fails after timeoutMs naming what it waited for.
async function until(read, accept, timeoutMs, what) {
    const deadline = Date.now() + timeoutMs;
    for (;;) {
        const value = await read();
        if (accept(value)) {
            return value;
        }
        if (Date.now() > deadline) {
            throw new Error(`timed out waiting for ${what}; last ${JSON.stringify(value)}`);
        }
        await new Promise((resolve) => setTimeout(resolve, 50));
    }
}

function statusOf(page, expected) {
    return until(
        () => page.textContent('#status'), (text) => text === expected, 15000,
        `the page to say ${JSON.stringify(expected)}`);
}

before(async () => {
    sandbox.registerBridgeHost(releaseHostName, [testOrigin]);
    fs.mkdirSync(path.join(sandbox.home, '.config'));
    fs.writeFileSync(
        path.join(sandbox.home, '.config', 'user-dirs.dirs'),
        '# written by the browser suite\nXDG_MUSIC_DIR="$HOME/Sound Files"\n');
    copySample();
    await serveWebFolder();
    browser = await Browser.launch(sandbox, {extension: sampleCopy});
});

after(async () => {
    await browser?.close();
    for (const server of servers.values()) {
        server.close();
    }
    sandbox.remove();
});

// What the page's dragstart handler puts on a drag from a handle, read from a drag the test
// starts itself.
function markerOnDrag(page, handle) {
    return page.evaluate((id) => {
        const transfer = new DataTransfer();
        document.getElementById(id).dispatchEvent(
            new DragEvent('dragstart', {dataTransfer: transfer, bubbles: true, cancelable: true}));
        return transfer.getData('text/plain');
    }, handle);
}

test('a web page prepares four parts, the loop uploaded as audio, and drops all four', async () => {
    const page = await browser.context.newPage();
    await page.goto(pageAddress('127.0.0.1'));

    await page.click('#build');
    await statusOf(page, 'Ready: drag a part, or all four.');
    const handles = ['#drums', '#bass', '#chords', '#loop'];
    const names = await Promise.all(handles.map((handle) => page.textContent(handle)));
    assert.deepEqual(names, ['Drums 1.mid', 'Bass 1.mid', 'Chords 1.mid', 'Loop 1.wav']);
    // This host takes audio: the loop is shown, and "all" is the four parts.
    assert.equal(await page.isHidden('#loop'), false);
    assert.equal(await page.textContent('#all'), 'All four parts');

    // A drag that starts before its handle was armed carries nothing, and says so.
    assert.equal(await markerOnDrag(page, 'all'), '');
    assert.equal(
        await page.textContent('#status'),
        'The drag started before it was armed: this drag carries no file. Try again.');

    await page.dispatchEvent('#all', 'pointerdown');
    const marker = await until(
        () => markerOnDrag(page, 'all'), (text) => text !== '', 10000, 'the armed marker');
    assert.equal(await page.textContent('#status'), 'Dragging: drop onto a track.');
    assert.equal(await markerOnDrag(page, 'bass'), '', 'only the armed handle carries it');

    dragSim(sandbox, 'begin', marker);
    await statusOf(page, 'Dropped: the DAW received 4 files, one per part: 3 .mid and a .wav.');

    // PUBLISHED lists the four clips, and the board names their files in the order of the
    // parts, each the page's part byte for byte: the MIDI parts' cached files, and the loop's
    // file in the audio library.
    const outcome = await page.evaluate(
        ([id, token]) => new Promise(
            (resolve) => chrome.runtime.sendMessage(id, {type: 'outcome', token}, resolve)),
        [testExtensionId, marker.split('/').pop()]);
    assert.equal(outcome.event, 'PUBLISHED');
    assert.deepEqual(outcome.published.map((clip) => clip.generation), [1, 1, 1, 1]);
    const board = JSON.parse(dragSim(sandbox, 'show'));
    assert.equal(board.fileURLs.length, 4);
    assert.equal(board.fileURL, board.fileURLs[0]);
    const files = board.fileURLs.map((url) => fileURLToPath(url));
    assert.deepEqual(board.filenames, files);
    assert.deepEqual(
        files.map((file) => [path.basename(path.dirname(file)), path.basename(file)]),
        outcome.published.map(
            (clip, index) => [index < 3 ? clip.preparedId : 'Quenra Bridge', names[index]]));
    const parts = await page.evaluate(async () => [
        ...(await import('./drag-box.js')).buildParts(1).map((part) => Array.from(part.bytes)),
        Array.from(await (await import('./audio-loop.js')).renderLoop(1)),
    ]);
    assert.deepEqual(files.map((file) => [...fs.readFileSync(file)]), parts);
    dragSim(sandbox, 'button', 'up');
});

test('only the sites the sample lists can reach it', async () => {
    const listed = await browser.context.newPage();
    await listed.goto(pageAddress('127.0.0.1'));
    assert.equal(await listed.evaluate(() => typeof chrome?.runtime?.sendMessage), 'function');

    const other = await browser.context.newPage();
    await other.goto(pageAddress('127.0.0.2'));
    assert.equal(
        await other.evaluate(() => typeof globalThis.chrome?.runtime?.sendMessage), 'undefined');
    await statusOf(
        other,
        'The Quenra Bridge extension is not installed, or its "externally_connectable" does not ' +
            'list this site.');
});

test('the extension\'s own demo page reaches the same worker without an ID', async () => {
    const page = await browser.context.newPage();
    await page.goto(`${testOrigin}demo.html`);
    await page.click('#build');
    await statusOf(page, 'Ready: drag a part, or all four.');
    assert.equal(await page.textContent('#chords'), 'Chords 1.mid');
    assert.equal(
        await page.evaluate(() => getComputedStyle(document.getElementById('all')).cursor), 'grab');
});

test('the loop is a WAV file that Chromium decodes back to the rendered samples', async () => {
    const page = await browser.context.newPage();
    await page.goto(pageAddress('127.0.0.1'));
    const loop = await page.evaluate(async () => {
        const {renderLoopBuffer, wavFile} = await import('./audio-loop.js');
        const rendered = await renderLoopBuffer(1);
        const bytes = wavFile(rendered);
        const context = new OfflineAudioContext(1, 1, 44100);
        const decoded = await context.decodeAudioData(bytes.slice().buffer);
        let difference = 0;
        let peak = 0;
        for (let channel = 0; channel < 2; channel++) {
            const [from, to] = [rendered, decoded].map((b) => b.getChannelData(channel));
            for (let frame = 0; frame < from.length; frame++) {
                const sample = Math.max(-1, Math.min(1, from[frame]));
                difference = Math.max(difference, Math.abs(sample - to[frame]));
                peak = Math.max(peak, Math.abs(sample));
            }
        }
        return {
            size: bytes.length,
            channels: decoded.numberOfChannels,
            rate: decoded.sampleRate,
            frames: decoded.length,
            difference,
            peak,
        };
    });
    // Two bars at 120 beats per minute: 4 seconds of 16-bit stereo after a 44-byte header, each
    // sample within two 16-bit steps of the rendered one (rounding, and 32767 for the top half).
    const {difference, peak, ...shape} = loop;
    assert.deepEqual(shape, {size: 44 + 176400 * 4, channels: 2, rate: 44100, frames: 176400});
    assert.ok(difference <= 2 / 32768, `decoded within two 16-bit steps (${difference})`);
    assert.ok(peak > 0.05, `the loop is not silent (peak ${peak})`);
});

// The page with a helper that takes audio, its extension scripted in the page: the arrangement
// gets the loop as a fourth part, prepared as audio, and "all" drags all four.
test('with a helper that takes audio, the loop is a fourth part and "all" drags four', async () => {
    const page = await browser.context.newPage();
    await page.goto(pageAddress('127.0.0.1'));
    const seen = await page.evaluate(async () => {
        const {connectArrangement, handleNames} = await import('./drag-box.js');
        const {renderLoop} = await import('./audio-loop.js');
        const messages = [];
        let publish;
        const send = async (message) => {
            messages.push(message);
            const {type, clip} = message;
            if (type === 'hello') {
                return {
                    ok: true,
                    capabilities: ['drag-takeover-1', 'multi-clip-drag-1', 'audio-clip-1']
                };
            }
            if (type === 'prepare' || type === 'prepareAudio') {
                return {ok: true, fileName: `${clip.name}.${type === 'prepare' ? 'mid' : 'wav'}`};
            }
            if (type === 'arm') {
                return {ok: true, marker: 'marker', leaseMs: 10000, token: 'token'};
            }
            return new Promise((resolve) => {
                publish = () => resolve({ok: true, event: 'PUBLISHED', published: [1, 2, 3, 4]});
            });
        };
        const box = document.createElement('section');
        const made = (id) => Object.assign(document.createElement('div'), {id: `box-${id}`});
        const handles = Object.fromEntries(handleNames.map((name) => [name, made(name)]));
        handles.loop.hidden = true;
        const buildButton = document.createElement('button');
        const status = document.createElement('p');
        box.append(buildButton, status, ...Object.values(handles));
        document.body.append(box);
        connectArrangement({send, handles, buildButton, status});
        const until = async (done, what) => {
            for (const end = Date.now() + 10000; !done();) {
                if (Date.now() > end) {
                    throw new Error(
                        `timed out waiting for ${what}; the page says ${status.textContent}`);
                }
                await new Promise((resolve) => setTimeout(resolve, 20));
            }
        };

        buildButton.click();
        await until(() => status.textContent === 'Ready: drag a part, or all four.', 'four parts');
        const shown = {
            loop: [handles.loop.hidden, handles.loop.textContent],
            all: handles.all.textContent,
        };
        handles.all.dispatchEvent(new PointerEvent('pointerdown'));
        await until(() => publish, 'the outcome of the armed drag');
        publish();
        await until(() => status.textContent.startsWith('Dropped'), 'the drop');
        const audio = messages.find((message) => message.type === 'prepareAudio');
        const expected = await renderLoop(1);
        return {
            shown,
            types: messages.map((message) => message.type),
            audioClip: audio.clip,
            audioIsTheLoop: audio.dataBase64 === expected.toBase64(),
            armed: messages.find((message) => message.type === 'arm').clipIds,
            ending: status.textContent,
        };
    });
    assert.deepEqual(seen, {
        shown: {loop: [false, 'Loop 1.wav'], all: 'All four parts'},
        types: ['hello', 'prepare', 'prepare', 'prepare', 'prepareAudio', 'arm', 'outcome'],
        audioClip: {clipId: 'loop', generation: 1, name: 'Loop 1'},
        audioIsTheLoop: true,
        armed: ['drums', 'bass', 'chords', 'loop'],
        ending: 'Dropped: the DAW received 4 files, one per part: 3 .mid and a .wav.',
    });
});

// The sample's own page with the product's client, as an extension page that renders audio
// uses it: a loop long enough for two chunks, uploaded with progress, dragged with the three MIDI
// parts; the audio file the drop target gets is the one in the library, and it stays there
// after the host has gone.
test(
    'a rendered loop of two chunks is uploaded with progress and dropped from the library',
    async () => {
        const chunkMaxBytes = 16777216;
        const knownRuns = new Set(sandbox.hostRuns(bridgeWrapperName).map((run) => run.pid));
        const page = await browser.context.newPage();
        await page.goto(`${testOrigin}demo.html`);
        const made = await page.evaluate(async (hostName) => {
            const {BridgeClient} = await import('./quenra-bridge.js');
            const {renderLoop} = await import('./web/audio-loop.js');
            const {buildParts} = await import('./web/drag-box.js');
            // 48 bars of 16-bit stereo at 44.1 kHz: 16 934 400 bytes of samples.
            const wav = await renderLoop(1, {bars: 48});
            const parts = buildParts(1);
            const client = new BridgeClient({hostName});
            const clips = [];
            for (const {clipId, name, bytes} of parts) {
                clips.push(await client.prepare(bytes, {clipId, generation: 1, name}));
            }
            const progress = [];
            const audio = await client.prepareAudio(wav, {
                clipId: 'loop',
                generation: 1,
                name: 'Long loop',
                onProgress: (step) => progress.push(step),
            });
            clips.push(audio);
            const {outcome, ...armed} = await client.arm(clips);
            globalThis.audioDrag = {client, outcome};
            return {
                files: [...parts.map((part) => part.bytes), wav].map((bytes) => bytes.toBase64()),
                clips,
                progress,
                armed,
            };
        }, releaseHostName);
        const files = made.files.map((text) => Buffer.from(text, 'base64'));
        const wavBytes = files[3].length;
        assert.ok(wavBytes > chunkMaxBytes && wavBytes < 2 * chunkMaxBytes, `${wavBytes} bytes`);
        assert.deepEqual(made.progress, [
            {received: chunkMaxBytes, byteLength: wavBytes},
            {received: wavBytes, byteLength: wavBytes},
        ]);
        const audio = made.clips[3];
        assert.deepEqual(
            [audio.format, audio.fileName, audio.byteLength], ['wav', 'Long loop.wav', wavBytes]);
        assert.deepEqual(
            made.armed.clips.map((clip) => clip.clipId), ['drums', 'bass', 'chords', 'loop']);

        dragSim(sandbox, 'begin', made.armed.marker);
        const event = await page.evaluate(() => globalThis.audioDrag.outcome);
        assert.equal(event.type, 'PUBLISHED');
        assert.deepEqual(
            event.clips, made.clips.map(({preparedId, generation}) => ({preparedId, generation})));
        // The MIDI parts from the cache, the loop from the library; each file the page's bytes.
        const board = JSON.parse(dragSim(sandbox, 'show'));
        dragSim(sandbox, 'button', 'up');
        const dropped = board.fileURLs.map((url) => fileURLToPath(url));
        assert.deepEqual(board.filenames, dropped);
        assert.deepEqual(dropped, [
            ...made.clips.slice(0, 3).map(
                (clip) => path.join(sandbox.entriesDirectory, clip.preparedId, clip.fileName)),
            path.join(library, 'Long loop.wav'),
        ]);
        dropped.forEach(
            (file, index) => assert.ok(fs.readFileSync(file).equals(files[index]), file));
        assert.equal(fs.statSync(library).mode & 0o777, 0o755);
        assert.equal(fs.statSync(dropped[3]).mode & 0o777, 0o644);

        // The host goes when its page lets it go; the published loop stays where the DAW found it.
        await page.evaluate(() => globalThis.audioDrag.client.close());
        const [run] = await waitFor(() => {
            const fresh = sandbox.hostRuns(bridgeWrapperName).filter((r) => !knownRuns.has(r.pid));
            return fresh.length === 1 && fresh[0].exit !== null && fresh;
        }, 5000, () => JSON.stringify(sandbox.hostRuns(bridgeWrapperName)));
        assert.equal(run.exit, 0, run.stderr);
        assert.ok(fs.readdirSync(library).includes('Long loop.wav'));
        assert.ok(fs.readFileSync(dropped[3]).equals(files[3]), 'the loop after the host exited');
        await page.close();
    });
