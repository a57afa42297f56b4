// Registration for a browser named on the command line, as Chromium itself reads it:
// `quenra-bridge-setup --register --browser chromium` under a temporary HOME, with no folder
// given, writes into Chromium's own default user-data directory for that HOME; Chromium started
// on that directory finds the manifest and enforces its allowed_origins.

import assert from 'node:assert/strict';
import fs from 'node:fs';
import path from 'node:path';
import {after, before, test} from 'node:test';

import {Browser, expectFoundButForbidden} from './lib/browser.js';
import {releaseHostName, Sandbox} from './lib/sandbox.js';

const sandbox = new Sandbox('browsers');
// Chromium's default for this HOME on Linux; Playwright needs it passed explicitly.
sandbox.userData = path.join(sandbox.home, '.config', 'chromium');
sandbox.hostDirectory = path.join(sandbox.userData, 'NativeMessagingHosts');
const setupProgram = sandbox.installedSetupProgram;
const manifestPath = path.join(sandbox.hostDirectory, `${releaseHostName}.json`);
let browser;

before(() => sandbox.installBundle());

after(async () => {
    await browser?.close();
    sandbox.remove();
});

test('quenra-bridge-setup --register --browser chromium writes into ~/.config/chromium', () => {
    assert.ok(!fs.existsSync(sandbox.userData), 'Chromium must not have run in this HOME yet');
    const result = sandbox.run(setupProgram, ['--register', '--browser', 'chromium']);
    assert.equal(result.status, 0, `status ${result.status}: ${result.stderr}`);
    assert.equal(
        result.stdout,
        'Helper 0.1.0: cache, drag pasteboard and Native Messaging HELLO passed.\n' +
            `Registered: ${manifestPath}\n`,
    );
    assert.equal(JSON.parse(fs.readFileSync(manifestPath, 'utf8')).name, releaseHostName);
    // Chrome's folder is left alone when another browser is named.
    assert.ok(!fs.existsSync(path.join(sandbox.home, '.config', 'google-chrome')));

    // The folder the registration made doesn't count as Chromium having run.
    const every = sandbox.run(setupProgram, ['--status', '--browser', 'all']);
    assert.equal(every.status, 1);
    assert.match(every.stderr, /^No supported browser found: none of them has run/);
});

test(
    'Chromium on its default user-data directory finds the manifest and refuses the test extension',
    async () => {
        assert.ok(fs.existsSync(manifestPath), 'needs the registration of the case before');
        browser = await Browser.launch(sandbox);
        await expectFoundButForbidden(browser, releaseHostName);
    });

test('once Chromium has run, --browser all finds it by the "Local State" it wrote', async () => {
    await browser?.close();
    browser = null;
    assert.ok(fs.existsSync(path.join(sandbox.userData, 'Local State')));
    const every = sandbox.run(setupProgram, ['--status', '--browser', 'all']);
    assert.equal(every.status, 0, every.stderr);
    const lines = every.stdout.trimEnd().split('\n').map((line) => JSON.parse(line));
    assert.deepEqual(lines.map((line) => [line.browser, line.registered]), [['chromium', true]]);
});
