// The sample's service worker: owns the one BridgeClient and answers the pages that show the clip,
// its own demo page (chrome.runtime.sendMessage) and ordinary web pages of the sites that
// "externally_connectable" names in manifest.json (chrome.runtime.sendMessage with this
// extension's ID). Both send the same three messages:
//   {type: 'prepare', bytes, clip}  when the page has built or changed its clip
//   {type: 'arm'}                   on pointerdown (or hover) on the draggable element
//   {type: 'outcome', token}        answered when that armed drag ends

import {BridgeClient, hostNameFor} from './quenra-bridge.js';

// Loaded unpacked with the development key, the extension is the development build and talks to
// the development registration (quenra-bridge-setup --register --development).
const bridge = new BridgeClient({hostName: hostNameFor(chrome.runtime.id)});
let prepared = null;         // the latest PREPARED reply
const outcomes = new Map();  // token → the armed drag's outcome promise

chrome.action.onClicked.addListener(() => chrome.tabs.create({url: 'demo.html'}));

function failure(error) {
    return {ok: false, code: error.code ?? 'INTERNAL', message: error.message};
}

async function answer(message) {
    if (message?.type === 'prepare') {
        try {
            const bytes = Uint8Array.from(message.bytes);  // runtime messages carry JSON
            const older = prepared;
            prepared = await bridge.prepare(bytes, message.clip);
            // A newer generation of the same clip replaces the older one in the host itself.
            if (older && older.clipId !== prepared.clipId) {
                bridge.release(older.preparedId).catch(() => {});
            }
            return {ok: true, fileName: prepared.fileName, generation: prepared.generation};
        } catch (error) {
            return failure(error);
        }
    }
    if (message?.type === 'arm') {
        if (!prepared) {
            return {ok: false, code: 'NOTHING_PREPARED', message: 'Build a clip first.'};
        }
        try {
            const armed = await bridge.arm(prepared);
            // Arming again within the lease returns the same token: one outcome serves both.
            outcomes.set(armed.token, armed.outcome);
            armed.outcome.finally(() => setTimeout(() => outcomes.delete(armed.token), 60000));
            return {ok: true, marker: armed.marker, leaseMs: armed.leaseMs, token: armed.token};
        } catch (error) {
            return failure(error);
        }
    }
    if (message?.type === 'outcome') {
        const outcome = outcomes.get(message.token);
        if (!outcome) {
            return {ok: false, code: 'UNKNOWN_TOKEN', message: 'No armed drag has this token.'};
        }
        const event = await outcome;
        return {ok: true, event: event ? event.type : 'ENDED'};
    }
    return {ok: false, code: 'BAD_MESSAGE', message: 'Unknown message type.'};
}

function serve(message, sender, sendResponse) {
    answer(message).then(sendResponse);
    return true;  // the answer comes later
}

chrome.runtime.onMessage.addListener(serve);
chrome.runtime.onMessageExternal.addListener(serve);
