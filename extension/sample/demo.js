// The extension's own demo page: the same draggable box as the web page in web/, talking to the
// service worker with chrome.runtime.sendMessage without an ID.

import {connectDragBox} from './web/drag-box.js';

connectDragBox({
    send: (message) => chrome.runtime.sendMessage(message),
    box: document.getElementById('clip'),
    buildButton: document.getElementById('build'),
    status: document.getElementById('status'),
});
