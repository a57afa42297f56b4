// The demo page: builds a small MIDI clip, has the extension PREPARE it, ARMs on pointerdown
// (and on hover, so a quick drag still finds its marker) and puts the marker on the drag at
// dragstart. The drag's data must be set synchronously in dragstart: there is no time to ask
// the host then, so the marker has to be in hand already.

const clipBox = document.getElementById('clip');
const statusLine = document.getElementById('status');
const worker = chrome.runtime.connect({name: 'demo'});

let generation = 0;
let ready = false;
let marker = null;  // {text, until}: the armed drag's marker and the end of its lease

function say(text) { statusLine.textContent = text; }

// A format-0 Standard MIDI File: one track of `notes` ascending notes from `root`.
function buildClip(root, notes) {
    const events = [];
    for (let i = 0; i < notes; i++) {
        events.push(0x00, 0x90, root + 2 * i, 0x64, 0x60, 0x80, root + 2 * i, 0x00);
    }
    events.push(0x00, 0xff, 0x2f, 0x00);
    const header = [0x4d, 0x54, 0x68, 0x64, 0, 0, 0, 6, 0, 0, 0, 1, 0, 96];
    const length = events.length;
    const track = [
        0x4d, 0x54, 0x72, 0x6b, length >>> 24, (length >>> 16) & 0xff, (length >>> 8) & 0xff,
        length & 0xff
    ];
    return new Uint8Array([...header, ...track, ...events]);
}

function arm() {
    if (ready && !(marker && Date.now() < marker.until - 1000)) {
        worker.postMessage({type: 'arm'});
    }
}

document.getElementById('build').addEventListener('click', () => {
    generation += 1;
    ready = false;
    marker = null;
    clipBox.setAttribute('aria-disabled', 'true');
    const bytes = buildClip(48 + (generation % 12), 8);
    say(`Preparing clip ${generation}…`);
    worker.postMessage({
        type: 'prepare',
        bytes: Array.from(bytes),
        clip: {clipId: 'demo-clip', generation, name: `Demo clip ${generation}`},
    });
});

worker.onMessage.addListener((message) => {
    if (message.type === 'prepared') {
        ready = message.ok;
        clipBox.textContent = message.ok ? message.fileName : 'no clip';
        clipBox.setAttribute('aria-disabled', String(!message.ok));
        say(message.ok ? 'Ready: drag the box.' : `Could not prepare: ${message.code}`);
    } else if (message.type === 'armed') {
        marker = message.ok ? {text: message.marker, until: Date.now() + message.leaseMs} : null;
        if (!message.ok) {
            say(`Could not arm the drag: ${message.code}`);
        }
    } else if (message.type === 'outcome') {
        marker = null;
        const texts = {
            PUBLISHED: 'Dropped: the DAW received the .mid file.',
            EXPIRED: 'The armed drag expired.',
            DRAG_FAILED: 'The drag could not carry the file.',
            ENDED: 'The armed drag ended.',
        };
        say(texts[message.event] ?? message.event);
    }
});

clipBox.addEventListener('pointerenter', arm);
clipBox.addEventListener('pointerdown', arm);

clipBox.addEventListener('dragstart', (event) => {
    if (!ready) {
        event.preventDefault();
        return;
    }
    if (marker && Date.now() < marker.until) {
        event.dataTransfer.setData('text/plain', marker.text);
        event.dataTransfer.effectAllowed = 'copy';
        say('Dragging: drop onto a track.');
    } else {
        // No marker on the drag: the host cannot recognise it, so the drop gets no file.
        say('The drag started before it was armed: this drag carries no file. Try again.');
    }
});
