// An ordinary web page (served from http://localhost or http://127.0.0.1, the sites the sample's
// "externally_connectable" names) that reaches the extension with chrome.runtime.sendMessage and
// the extension's ID. The ID is the development build's unless the address gives another one
// (?extension=ID), for an unpacked copy loaded without the development key.

import {connectArrangement, makeArrangement} from './drag-box.js';

const developmentExtensionId = 'dgldcbgpnkooljhfhcjpkojcdnfkepnb';
const extensionId = new URLSearchParams(location.search).get('extension') ?? developmentExtensionId;
const arrangement = makeArrangement(document.getElementById('arrangement'));
const {status} = arrangement;

// chrome.runtime exists in a page only when an installed extension lists the page's site.
function send(message) {
    return new Promise((resolve) => {
        if (!globalThis.chrome?.runtime?.sendMessage) {
            resolve({
                ok: false,
                code: 'NO_EXTENSION',
                message: 'the Quenra Bridge extension is not installed, or does not list this site',
            });
            return;
        }
        chrome.runtime.sendMessage(extensionId, message, (reply) => {
            const error = chrome.runtime.lastError;
            resolve(
                error || !reply ? {ok: false, code: 'NO_EXTENSION', message: error?.message} :
                                  reply);
        });
    });
}

connectArrangement({send, ...arrangement});
if (!globalThis.chrome?.runtime?.sendMessage) {
    status.textContent =
        'The Quenra Bridge extension is not installed, or its "externally_connectable" does not ' +
        'list this site.';
}
