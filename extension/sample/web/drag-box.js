// A draggable box that carries a MIDI clip into a DAW through the Quenra Bridge extension. The page
// gives it a way to send a message to the extension and get its answer; everything else is here:
// build a clip and PREPARE it, ARM on pointerdown (and on hover, so a quick drag still finds its
// marker), put the marker on the drag in dragstart, and show how the drag ended.
//
// The drag's data can only be set synchronously inside dragstart, and a round trip to the host
// can't fit there: the marker has to be in hand before the drag starts.

// A format-0 Standard MIDI File: one track of `notes` ascending notes from `root`.
export function buildClip(root, notes) {
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

// What each refusal means to the person dragging.
const refusals = {
    DISCONNECTED: 'The helper is not reachable: is Quenra Bridge installed and registered?',
    TIMEOUT: 'The helper did not answer in time.',
    BUSY: 'Another drag is armed right now; try again in a moment.',
    RATE_LIMITED: 'Too many clips at once; wait a moment.',
    CACHE_FULL: 'The helper\'s clip cache is full.',
    NOT_MIDI: 'The clip is not a valid MIDI file.',
    TOO_LARGE: 'The clip is too large.',
    NOTHING_PREPARED: 'Build a clip first.',
};

function explain(reply) { return refusals[reply.code] ?? `${reply.code}: ${reply.message ?? ''}`; }

const endings = {
    PUBLISHED: 'Dropped: the DAW received the .mid file.',
    EXPIRED: 'The armed drag expired.',
    DRAG_FAILED: 'The drag could not carry the file.',
    ENDED: 'The armed drag ended.',
};

/**
 * @param {{send: (message: object) => Promise<object>, box: HTMLElement,
 *     buildButton: HTMLElement, status: HTMLElement}} parts
 */
export function connectDragBox({send, box, buildButton, status}) {
    let generation = 0;
    let ready = false;
    let marker = null;  // {text, until, token}: the armed drag's marker and the end of its lease
    let arming = null;
    const say = (text) => {
        status.textContent = text;
    };

    buildButton.addEventListener('click', async () => {
        generation += 1;
        ready = false;
        marker = null;
        box.setAttribute('aria-disabled', 'true');
        const bytes = buildClip(48 + (generation % 12), 8);
        say(`Preparing clip ${generation}…`);
        const reply = await send({
            type: 'prepare',
            bytes: Array.from(bytes),
            clip: {clipId: 'demo-clip', generation, name: `Demo clip ${generation}`},
        });
        ready = reply.ok;
        box.textContent = reply.ok ? reply.fileName : 'no clip';
        box.setAttribute('aria-disabled', String(!reply.ok));
        say(reply.ok ? 'Ready: drag the box.' : `Could not prepare: ${explain(reply)}`);
    });

    async function watch(token) {
        const reply = await send({type: 'outcome', token});
        if (marker?.token === token) {
            marker = null;
        }
        say(reply.ok ? endings[reply.event] ?? reply.event : explain(reply));
    }

    async function arm() {
        // A marker with more than a second of its lease left is kept; arming again would only
        // renew it.
        if (!ready || arming || (marker && Date.now() < marker.until - 1000)) {
            return;
        }
        arming = send({type: 'arm'});
        const reply = await arming;
        arming = null;
        if (!reply.ok) {
            marker = null;
            say(`Could not arm the drag: ${explain(reply)}`);
            return;
        }
        const renewed = marker?.token === reply.token;
        marker = {text: reply.marker, until: Date.now() + reply.leaseMs, token: reply.token};
        if (!renewed) {
            watch(reply.token);
        }
    }

    box.addEventListener('pointerenter', arm);
    box.addEventListener('pointerdown', arm);

    box.addEventListener('dragstart', (event) => {
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
}
