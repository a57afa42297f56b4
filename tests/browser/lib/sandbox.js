// A throw-away world for one test file: a home, a runtime folder for the drag board, a Chromium
// user-data directory with its NativeMessagingHosts folder, and a folder where every native host
// that Chromium starts leaves its arguments, standard error and exit status.

import assert from 'node:assert/strict';
import {spawnSync} from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import {fileURLToPath} from 'node:url';

export const here = path.dirname(fileURLToPath(import.meta.url));
export const sourceRoot = path.resolve(here, '..', '..', '..');
export const buildDir =
    path.resolve(process.env.QUENRA_BUILD_DIR ?? path.join(sourceRoot, 'build'));
export const bundleExecutables = path.join(buildDir, 'Quenra Bridge.app', 'Contents', 'MacOS');
export const hostBinary =
    process.env.QUENRA_NATIVE_HOST ?? path.join(bundleExecutables, 'quenra-native-host');

export const releaseOrigin = 'chrome-extension://kembcdlbgbcnnchcnbdhbmbhbejnedjf/';
export const releaseHostName = 'tech.ostrell.quenra.bridge';
// Names of the test registrations; Chromium allows lower-case letters, digits, "_" and ".".
export const bridgeTestHostName = 'tech.ostrell.quenra.bridge_browsertest';
export const echoHostName = 'tech.ostrell.quenra.echo_browsertest';
export const bridgeWrapperName = 'quenra-host';
export const echoWrapperName = 'echo-host';

function shellQuote(text) { return `'${String(text).replaceAll('\'', `'\\''`)}'`; }

export class Sandbox {
    constructor(label) {
        this.root = fs.mkdtempSync(path.join(os.tmpdir(), `quenra-browser-${label}-`));
        this.home = path.join(this.root, 'home');
        this.runtimeDir = path.join(this.root, 'run');
        this.userData = path.join(this.root, 'chrome-profile');
        this.hostDirectory = path.join(this.userData, 'NativeMessagingHosts');
        this.runs = path.join(this.root, 'host-runs');
        this.wrappers = path.join(this.root, 'wrappers');
        for (const dir
                 of [this.home, this.runtimeDir, this.hostDirectory, this.runs, this.wrappers]) {
            fs.mkdirSync(dir, {recursive: true, mode: 0o700});
        }
        fs.chmodSync(this.runtimeDir, 0o700);
    }

    get cacheRoot() { return path.join(this.home, '.cache', 'tech.ostrell.quenra.bridge'); }

    get entriesDirectory() { return path.join(this.cacheRoot, 'entries'); }

    // The environment of Chromium, the hosts it starts, and the tools the suite runs.
    env() {
        const env = {...process.env, HOME: this.home, XDG_RUNTIME_DIR: this.runtimeDir};
        delete env.XDG_CACHE_HOME;
        delete env.XDG_CONFIG_HOME;
        return env;
    }

    // A host wrapper script: records Chromium's arguments, then runs command (Chromium's
    // arguments appended when passArguments is set) with this sandbox's HOME and
    // XDG_RUNTIME_DIR, its standard error in a file, and records its exit status.
    writeWrapper(name, command, {passArguments}) {
        const file = path.join(this.wrappers, name);
        const runs = shellQuote(this.runs);
        const script = [
            '#!/bin/sh',
            '# Test-only native host wrapper, written by the browser suite.',
            `echo ${shellQuote(name)} > ${runs}/$$.wrapper`,
            `printf '%s\\n' "$@" > ${runs}/$$.args`,
            `HOME=${shellQuote(this.home)}`,
            `XDG_RUNTIME_DIR=${shellQuote(this.runtimeDir)}`,
            'export HOME XDG_RUNTIME_DIR',
            'unset XDG_CACHE_HOME',
            `${command.map(shellQuote).join(' ')}${passArguments ? ' "$@"' : ''} 2> ${
                runs}/$$.stderr`,
            'status=$?',
            `echo "$status" > ${runs}/$$.exit-pending && mv ${runs}/$$.exit-pending ${
                runs}/$$.exit`,
            'exit "$status"',
            '',
        ].join('\n');
        fs.writeFileSync(file, script, {mode: 0o755});
        return file;
    }

    writeManifest(name, hostPath, allowedOrigins) {
        const manifest = {
            name,
            description: 'browser suite test registration',
            path: hostPath,
            type: 'stdio',
            allowed_origins: allowedOrigins,
        };
        fs.writeFileSync(
            path.join(this.hostDirectory, `${name}.json`),
            JSON.stringify(manifest, null, 2) + '\n');
    }

    // The built host, registered as name for the extensions of allowedOrigins and started by
    // its wrapper as the released extension's host, whichever extension calls.
    registerBridgeHost(name, allowedOrigins) {
        assert.ok(fs.existsSync(hostBinary), `the host is not built: ${hostBinary}`);
        const wrapper = this.writeWrapper(
            bridgeWrapperName, [hostBinary, releaseOrigin], {passArguments: false});
        this.writeManifest(name, wrapper, allowedOrigins);
    }

    // The test-only echo host (echo-host.js), registered for the extensions of allowedOrigins.
    registerEchoHost(allowedOrigins) {
        const wrapper =
            this.writeWrapper(echoWrapperName, [process.execPath, path.join(here, 'echo-host.js')], {
                passArguments: true,
            });
        this.writeManifest(echoHostName, wrapper, allowedOrigins);
    }

    // Every host process Chromium started so far (of one wrapper, when named), by the wrapper's
    // process id.
    hostRuns(wrapper = null) {
        const runs = new Map();
        for (const name of fs.readdirSync(this.runs)) {
            const parts = /^(\d+)\.(wrapper|args|stderr|exit)$/.exec(name);
            if (!parts) {
                continue;
            }
            const [, pid, kind] = parts;
            const run = runs.get(pid) ??
                {pid: Number(pid), wrapper: null, args: null, stderr: '', exit: null};
            const text = fs.readFileSync(path.join(this.runs, name), 'utf8');
            if (kind === 'wrapper') {
                run.wrapper = text.trim();
            } else if (kind === 'args') {
                run.args = text.split('\n').slice(0, -1);
            } else if (kind === 'stderr') {
                run.stderr = text;
            } else if (kind === 'exit') {
                run.exit = /^\d+\n$/.test(text) ? Number(text) : null;
            }
            runs.set(pid, run);
        }
        return [...runs.values()]
            .filter((run) => wrapper === null || run.wrapper === wrapper)
            .sort((a, b) => a.pid - b.pid);
    }

    remove() {
        if (process.env.QUENRA_KEEP_SANDBOX) {
            console.log(`sandbox kept: ${this.root}`);
            return;
        }
        // Chromium may still be writing its profile for a moment after it closed.
        fs.rmSync(this.root, {recursive: true, force: true, maxRetries: 5, retryDelay: 100});
    }

    // Runs a program of the build with this sandbox's environment; returns its output and status.
    // The built bundle installed under this home's Applications folder, an install root the setup
    // program registers from, and the paths of its two programs there.
    installBundle() {
        const install = this.run('cmake', ['--install', buildDir, '--prefix', this.home]);
        if (install.status !== 0 || !fs.existsSync(this.installedSetupProgram)) {
            throw new Error(`cmake --install failed: ${install.stderr}`);
        }
    }

    get installedExecutables() {
        return path.join(this.home, 'Applications', 'Quenra Bridge.app', 'Contents', 'MacOS');
    }

    get installedSetupProgram() { return path.join(this.installedExecutables, 'quenra-bridge-setup'); }

    get installedHelper() { return path.join(this.installedExecutables, 'quenra-native-host'); }

    run(program, args) {
        const result = spawnSync(
            program, args, {env: this.env(), encoding: 'utf8', stdio: ['ignore', 'pipe', 'pipe']});
        if (result.error) {
            throw result.error;
        }
        return {
            status: result.status,
            signal: result.signal,
            stdout: result.stdout,
            stderr: result.stderr
        };
    }
}

// Waits until predicate() returns a value other than undefined/null/false, or fails after
// timeoutMs with describe() in the message.
export async function waitFor(predicate, timeoutMs, describe) {
    const deadline = Date.now() + timeoutMs;
    for (;;) {
        const value = predicate();
        if (value) {
            return value;
        }
        if (Date.now() > deadline) {
            throw new Error(`timed out after ${timeoutMs} ms waiting for ${describe()}`);
        }
        await new Promise((resolve) => setTimeout(resolve, 20));
    }
}
