// The sample's service worker: owns the one BridgeClient and serves the demo page over a
// runtime port. The page sends {type: 'prepare'} when it has built a clip and {type: 'arm'} on
// pointerdown; the worker answers and forwards the drag's outcome.

import {BridgeClient} from './quenra-bridge.js';

const bridge = new BridgeClient();
let prepared = null;  // the latest PREPARED reply

chrome.action.onClicked.addListener(() => chrome.tabs.create({url: 'demo.html'}));

function failure(error) {
    return {ok: false, code: error.code ?? 'INTERNAL', message: error.message};
}

chrome.runtime.onConnect.addListener((page) => {
    page.onMessage.addListener(async (message) => {
        if (message.type === 'prepare') {
            try {
                const bytes = Uint8Array.from(message.bytes);  // runtime messages carry JSON
                const older = prepared;
                prepared = await bridge.prepare(bytes, message.clip);
                // A newer generation of the same clip replaces the older one in the host itself.
                if (older && older.clipId !== prepared.clipId) {
                    bridge.release(older.preparedId).catch(() => {});
                }
                page.postMessage({
                    type: 'prepared',
                    ok: true,
                    fileName: prepared.fileName,
                    generation: prepared.generation
                });
            } catch (error) {
                page.postMessage({type: 'prepared', ...failure(error)});
            }
        } else if (message.type === 'arm') {
            if (!prepared) {
                page.postMessage({type: 'armed', ok: false, code: 'NOTHING_PREPARED'});
                return;
            }
            try {
                const armed = await bridge.arm(prepared);
                page.postMessage({
                    type: 'armed',
                    ok: true,
                    marker: armed.marker,
                    leaseMs: armed.leaseMs,
                    token: armed.token
                });
                const outcome = await armed.outcome;
                page.postMessage(
                    {type: 'outcome', token: armed.token, event: outcome ? outcome.type : 'ENDED'});
            } catch (error) {
                page.postMessage({type: 'armed', ...failure(error)});
            }
        }
    });
});
