// The sample's service worker: owns the one BridgeClient and answers the pages that show the
// arrangement, its own demo page (chrome.runtime.sendMessage) and ordinary web pages of the sites
// that "externally_connectable" names in manifest.json (chrome.runtime.sendMessage with this
// extension's ID). Both send the same messages:
//   {type: 'hello'}                 the helper's capabilities: does it take audio clips?
//   {type: 'prepare', bytes, clip}  when the page has built or changed a MIDI part
//   {type: 'prepareAudio', dataBase64, clip}
//                                   the same for an audio part (a WAV file, in base64)
//   {type: 'arm', clipIds}          on pointerdown (or hover) on a handle: one part, or several
//                                   dragged together as one file each, in this order
//   {type: 'outcome', token}        answered when that armed drag ends

import {BridgeClient, hostNameFor} from './quenra-bridge.js';

// Loaded unpacked with the development key, the extension is the development build and talks to
// the development registration (quenra-bridge-setup --register --development).
const bridge = new BridgeClient({hostName: hostNameFor(chrome.runtime.id)});
const prepared = new Map();  // clip id → the latest PREPARED of that part
const outcomes = new Map();  // token → the armed drag's outcome promise

chrome.action.onClicked.addListener(() => chrome.tabs.create({url: 'demo.html'}));

function failure(error) {
    return {ok: false, code: error.code ?? 'INTERNAL', message: error.message};
}

// The clips a PUBLISHED names: a list's "clips", or the one clip.
function published(event) {
    if (event?.type !== 'PUBLISHED') {
        return [];
    }
    return event.clips ?? [{preparedId: event.preparedId, generation: event.generation}];
}

// Runtime messages carry JSON: the pages send a MIDI part as an array of numbers, and the larger
// audio part as base64.
function fromBase64(text) {
    if (typeof Uint8Array.fromBase64 === 'function') {
        return Uint8Array.fromBase64(text);
    }
    return Uint8Array.from(atob(text), (character) => character.charCodeAt(0));
}

// Answers a prepare message with the PREPARED it leads to, kept as the part's latest.
async function keep(prepare) {
    try {
        const reply = await prepare();
        // A newer generation of a part replaces the older one in the host itself.
        if ((prepared.get(reply.clipId)?.generation ?? 0) < reply.generation) {
            prepared.set(reply.clipId, reply);
        }
        const {preparedId, fileName, generation} = reply;
        return {ok: true, preparedId, fileName, generation};
    } catch (error) {
        return failure(error);
    }
}

async function answer(message) {
    if (message?.type === 'hello') {
        try {
            return {ok: true, capabilities: (await bridge.connect()).capabilities};
        } catch (error) {
            return failure(error);
        }
    }
    if (message?.type === 'prepare') {
        return keep(() => bridge.prepare(Uint8Array.from(message.bytes), message.clip));
    }
    if (message?.type === 'prepareAudio') {
        // The format comes from the file's header; a page may name it in clip.format instead.
        return keep(() => bridge.prepareAudio(fromBase64(message.dataBase64), message.clip));
    }
    if (message?.type === 'arm') {
        const clips = (message.clipIds ?? []).map((clipId) => prepared.get(clipId));
        if (clips.length === 0 || clips.includes(undefined)) {
            return {ok: false, code: 'NOTHING_PREPARED', message: 'Build the parts first.'};
        }
        try {
            const armed = await bridge.arm(clips.length === 1 ? clips[0] : clips);
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
        return {ok: true, event: event ? event.type : 'ENDED', published: published(event)};
    }
    return {ok: false, code: 'BAD_MESSAGE', message: 'Unknown message type.'};
}

function serve(message, sender, sendResponse) {
    answer(message).then(sendResponse);
    return true;  // the answer comes later
}

chrome.runtime.onMessage.addListener(serve);
chrome.runtime.onMessageExternal.addListener(serve);
