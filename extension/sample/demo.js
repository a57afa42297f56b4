// The extension's own demo page: the same arrangement as the web page in web/, talking to the
// service worker with chrome.runtime.sendMessage without an ID.

import {connectArrangement, makeArrangement} from './web/drag-box.js';

connectArrangement({
    send: (message) => chrome.runtime.sendMessage(message),
    ...makeArrangement(document.getElementById('arrangement')),
});
