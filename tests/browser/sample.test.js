// The sample extension's page-to-extension path, as a web developer uses it: an ordinary web page
// served from http://127.0.0.1 reaches the sample (externally_connectable,
// chrome.runtime.sendMessage with its ID), which prepares and arms the clip through the real host
// behind Chromium; the drag is played on the drag board and the page reports the drop.

import assert from 'node:assert/strict';
import fs from 'node:fs';
import http from 'node:http';
import path from 'node:path';
import {after, before, test} from 'node:test';

import {dragSim} from './lib/bridge.js';
import {Browser, testExtensionId, testExtensionKey, testOrigin} from './lib/browser.js';
import {bridgeWrapperName, hostBinary, releaseHostName, releaseOrigin, Sandbox, sourceRoot} from './lib/sandbox.js';

const sandbox = new Sandbox('sample');
const sampleSource = path.join(sourceRoot, 'extension', 'sample');
const sampleCopy = path.join(sandbox.root, 'sample-extension');
const servers = new Map();  // address → HTTP server of the web folder
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
    assert.ok(fs.existsSync(hostBinary), `the host is not built: ${hostBinary}`);
    const bridge = sandbox.writeWrapper(
        bridgeWrapperName, [hostBinary, releaseOrigin], {passArguments: false});
    sandbox.writeManifest(releaseHostName, bridge, [testOrigin]);
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

// What the page's dragstart handler puts on a drag, read from a drag the test starts itself.
function markerOnDrag(page) {
    return page.evaluate(() => {
        const transfer = new DataTransfer();
        document.getElementById('clip').dispatchEvent(
            new DragEvent('dragstart', {dataTransfer: transfer, bubbles: true, cancelable: true}));
        return transfer.getData('text/plain');
    });
}

test('a web page prepares, arms and drops a clip through the sample extension', async () => {
    const page = await browser.context.newPage();
    await page.goto(pageAddress('127.0.0.1'));

    await page.click('#build');
    await statusOf(page, 'Ready: drag the box.');
    assert.equal(await page.textContent('#clip'), 'Demo clip 1.mid');

    // A drag that starts before the box was armed carries nothing, and says so.
    assert.equal(await markerOnDrag(page), '');
    assert.equal(
        await page.textContent('#status'),
        'The drag started before it was armed: this drag carries no file. Try again.');

    await page.dispatchEvent('#clip', 'pointerdown');
    const marker =
        await until(() => markerOnDrag(page), (text) => text !== '', 10000, 'the armed marker');
    assert.equal(await page.textContent('#status'), 'Dragging: drop onto a track.');

    dragSim(sandbox, 'begin', marker);
    await statusOf(page, 'Dropped: the DAW received the .mid file.');
    const board = JSON.parse(dragSim(sandbox, 'show'));
    assert.equal(path.basename(board.fileURL), 'Demo%20clip%201.mid');
    const dropped = fs.readFileSync(new URL(board.fileURL));
    assert.equal(dropped.subarray(0, 4).toString('latin1'), 'MThd');
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
    await statusOf(page, 'Ready: drag the box.');
    assert.equal(await page.textContent('#clip'), 'Demo clip 1.mid');
    assert.equal(
        await page.evaluate(() => getComputedStyle(document.getElementById('clip')).cursor),
        'grab');
});
