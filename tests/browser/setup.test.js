// The setup program's registration as Chromium reads it: `quenra-bridge-setup --register` of a
// copy installed in ~/Applications writes the manifest into the profile, and Chromium, asked by
// the test extension, finds it, parses it and enforces its allowed_origins.

import assert from 'node:assert/strict';
import fs from 'node:fs';
import path from 'node:path';
import {after, before, test} from 'node:test';

import {Browser, expectFoundButForbidden} from './lib/browser.js';
import {releaseHostName, releaseOrigin, Sandbox} from './lib/sandbox.js';

const sandbox = new Sandbox('setup');
const helper = sandbox.installedHelper;
const setupProgram = sandbox.installedSetupProgram;
const manifestPath = path.join(sandbox.hostDirectory, `${releaseHostName}.json`);
const forbidden = 'Access to the specified native messaging host is forbidden.';
let browser;

// The setup program registers only a copy in an install root, ~/Applications among them.
before(() => sandbox.installBundle());

after(async () => {
    await browser?.close();
    sandbox.remove();
});

test(
    'quenra-bridge-setup --register --chrome-user-data-dir writes the manifest into the profile',
    () => {
        fs.rmSync(sandbox.hostDirectory, {recursive: true, force: true});
        const result =
            sandbox.run(setupProgram, ['--register', '--chrome-user-data-dir', sandbox.userData]);
        assert.equal(result.status, 0, `status ${result.status}: ${result.stderr}`);
        assert.equal(
            result.stdout,
            'Helper 0.1.0: cache, drag pasteboard and Native Messaging HELLO passed.\n' +
                `Registered: ${manifestPath}\n`,
        );

        const text = fs.readFileSync(manifestPath, 'utf8');
        assert.deepEqual(JSON.parse(text), {
            allowed_origins: [releaseOrigin],
            description: 'Quenra DAW Bridge helper',
            name: releaseHostName,
            path: helper,
            type: 'stdio',
        });
        assert.ok(text.endsWith('}\n'), JSON.stringify(text.slice(-4)));
        assert.ok(!text.includes('\\/'), 'slashes must not be escaped');
        assert.equal(fs.statSync(manifestPath).mode & 0o777, 0o644);
    });

test(
    'Chromium finds the registered host and refuses the test extension, which it does not name',
    async () => {
        assert.ok(fs.existsSync(manifestPath), 'needs the registration of the case before');
        browser = await Browser.launch(sandbox);
        await expectFoundButForbidden(browser, releaseHostName);
    });

test(
    'quenra-bridge-setup --register --development adds the development registration beside it',
    async () => {
        const release = fs.readFileSync(manifestPath, 'utf8');
        const result = sandbox.run(
            setupProgram,
            ['--development', '--chrome-user-data-dir', sandbox.userData, '--register']);
        assert.equal(result.status, 0, `status ${result.status}: ${result.stderr}`);
        const developmentPath = path.join(sandbox.hostDirectory, `${releaseHostName}_dev.json`);
        assert.equal(
            result.stdout,
            'Helper 0.1.0: cache, drag pasteboard and Native Messaging HELLO passed.\n' +
                `Registered: ${developmentPath}\n`,
        );
        assert.deepEqual(JSON.parse(fs.readFileSync(developmentPath, 'utf8')), {
            allowed_origins: ['chrome-extension://dgldcbgpnkooljhfhcjpkojcdnfkepnb/'],
            description: 'Quenra DAW Bridge helper',
            name: `${releaseHostName}_dev`,
            path: helper,
            type: 'stdio',
        });
        assert.equal(fs.readFileSync(manifestPath, 'utf8'), release);

        // Chromium now finds the development host and refuses the test extension, which is not
        // the development build: the refusal comes from the new file.
        browser ??= await Browser.launch(sandbox);
        const found = await browser.sendOnce(`${releaseHostName}_dev`, {type: 'HELLO'});
        assert.deepEqual(found, {error: forbidden});
    });
