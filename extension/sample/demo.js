// The extension's own demo page: the same arrangement as the web page in web/, talking to the
// service worker with chrome.runtime.sendMessage without an ID.

import {connectArrangement, handleNames} from './web/drag-box.js';

connectArrangement({
    send: (message) => chrome.runtime.sendMessage(message),
    handles: Object.fromEntries(handleNames.map((name) => [name, document.getElementById(name)])),
    buildButton: document.getElementById('build'),
    status: document.getElementById('status'),
});
