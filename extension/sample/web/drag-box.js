// The draggable parts of a generated arrangement, carried into a DAW through the Quenra Bridge
// extension: one handle per part, and one that carries every part at once (one file each). The
// page gives a way to send a message to the extension and get its answer; everything else is
// here: build the parts and PREPARE them, ARM a handle's clips on pointerdown (and on hover, so
// a quick drag still finds its marker), put the marker on the drag in dragstart, and show how the
// drag ended. Three parts are MIDI; a fourth, an audio loop rendered in the page, joins them when
// the helper takes audio clips.
//
// The drag's data can only be set synchronously inside dragstart, and a round trip to the host
// can't fit there: the marker has to be in hand before the drag starts.

import {renderLoop} from './audio-loop.js';

// A variable-length quantity, as Standard MIDI Files write delta times and lengths.
function quantity(value) {
    const bytes = [value & 0x7f];
    for (let rest = value >>> 7; rest > 0; rest >>>= 7) {
        bytes.unshift(0x80 | (rest & 0x7f));
    }
    return bytes;
}

// A format-0 Standard MIDI File at 96 ticks per quarter note: the track's name, then each note
// [start tick, length in ticks, channel, key, velocity].
export function standardMidiFile(name, notes) {
    const events = [];
    for (const [start, length, channel, key, velocity] of notes) {
        events.push([start + length, 0, [0x80 | channel, key, 0]]);
        events.push([start, 1, [0x90 | channel, key, velocity]]);
    }
    // In time order; at one tick, the notes that end before the ones that start.
    events.sort((a, b) => a[0] - b[0] || a[1] - b[1]);
    const title = Array.from(new TextEncoder().encode(name));
    const track = [0x00, 0xff, 0x03, ...quantity(title.length), ...title];
    let tick = 0;
    for (const [at, , bytes] of events) {
        track.push(...quantity(at - tick), ...bytes);
        tick = at;
    }
    track.push(0x00, 0xff, 0x2f, 0x00);
    const length = track.length;
    return new Uint8Array([
        0x4d,
        0x54,
        0x68,
        0x64,
        0,
        0,
        0,
        6,
        0,
        0,
        0,
        1,
        0,
        96,  // MThd: format 0, one track
        0x4d,
        0x54,
        0x72,
        0x6b,
        length >>> 24,
        (length >>> 16) & 0xff,
        (length >>> 8) & 0xff,
        length & 0xff,
        ...track
    ]);
}

/** The MIDI parts of an arrangement, in the order a drag of all of them carries their files. */
export const partNames = ['drums', 'bass', 'chords'];
/** The audio part, last in a drag of all parts; only with a helper that takes audio clips. */
export const loopName = 'loop';
/** Every handle a page shows: one per part, and "all". */
export const handleNames = [...partNames, loopName, 'all'];
/**
 * Makes a page's arrangement in the container: the button that builds one, a drag handle per
 * part and one for all of them (disabled until their parts are prepared, the loop hidden until
 * the helper says it takes audio), and the status line; returns what connectArrangement takes
 * of them.
 */
export function makeArrangement(container) {
    const build = document.createElement('p');
    const buildButton = document.createElement('button');
    buildButton.id = 'build';
    buildButton.textContent = 'Build a new arrangement';
    build.append(buildButton);
    container.append(build);
    const handles = {};
    for (const name of handleNames) {
        const handle = document.createElement('div');
        handle.id = name;
        handle.className = name === 'all' ? 'clip all' : 'clip';
        handle.draggable = true;
        handle.setAttribute('aria-disabled', 'true');
        handle.hidden = name === loopName;
        handle.textContent = name === 'all' ? 'All three parts' : name;
        container.append(handle);
        handles[name] = handle;
    }
    const status = document.createElement('p');
    status.id = 'status';
    status.textContent = 'Build an arrangement, then drag a part, or all three, onto your DAW.';
    container.append(status);
    return {handles, buildButton, status};
}

// What the helper's HELLO_OK names when it takes audio clips.
const audioCapability = 'audio-clip-1';

// Two bars of each part; every generation moves the harmony to another root.
export function buildParts(generation) {
    const root = 36 + ((generation * 5) % 12);
    const quarter = 96;
    const drums = [];
    for (let beat = 0; beat < 8; beat++) {
        drums.push([beat * quarter, 24, 9, beat % 2 === 0 ? 36 : 38, 100]);  // kick, snare
        drums.push([beat * quarter, 24, 9, 42, 70], [beat * quarter + 48, 24, 9, 42, 60]);
    }
    const bass = [0, 0, 7, 5, 0, 0, 3, 7].map(
        (step, beat) => [beat * quarter, quarter - 8, 0, root + step, 96]);
    const chords = [];
    for (const [bar, degree] of [[0, 0], [1, 5]]) {
        for (const interval of [0, 4, 7]) {
            chords.push([bar * 4 * quarter, 4 * quarter - 8, 1, root + 24 + degree + interval, 80]);
        }
    }
    const notes = {drums, bass, chords};
    return partNames.map((clipId) => {
        const name = `${clipId[0].toUpperCase()}${clipId.slice(1)} ${generation}`;
        return {clipId, name, bytes: standardMidiFile(name, notes[clipId])};
    });
}

// What each refusal means to the person dragging.
const refusals = {
    DISCONNECTED: 'The helper is not reachable: is Quenra Bridge installed and registered?',
    TIMEOUT: 'The helper did not answer in time.',
    BUSY: 'Another drag is armed right now; try again in a moment.',
    RATE_LIMITED: 'Too many clips at once; wait a moment.',
    CACHE_FULL: 'The helper\'s clip cache is full.',
    NOT_MIDI: 'A part is not a valid MIDI file.',
    NOT_AUDIO: 'The loop is not a valid WAV file.',
    TOO_LARGE: 'A part is too large.',
    NOT_SUPPORTED: 'This Quenra Bridge drags one part at a time; update it to drag all three.',
    NOTHING_PREPARED: 'Build the arrangement first.',
};

function explain(reply) { return refusals[reply.code] ?? `${reply.code}: ${reply.message ?? ''}`; }

// How a drag of these clips ended, in words.
function ending(reply, clipIds) {
    if (reply.event !== 'PUBLISHED') {
        return {
            EXPIRED: 'The armed drag expired.',
            DRAG_FAILED: 'The drag could not carry the files.',
            ENDED: 'The armed drag ended.',
        }[reply.event] ??
            reply.event;
    }
    const count = reply.published.length;
    if (count === 1) {
        return `Dropped: the DAW received the ${clipIds[0] === loopName ? '.wav' : '.mid'} file.`;
    }
    return clipIds.includes(loopName) ?
        `Dropped: the DAW received ${count} files, one per part: ${count - 1} .mid and a .wav.` :
        `Dropped: the DAW received ${count} .mid files, one per part.`;
}

// Standard base64 for a runtime message, which carries JSON.
function base64(bytes) {
    if (typeof bytes.toBase64 === 'function') {
        return bytes.toBase64();
    }
    let binary = '';
    for (let start = 0; start < bytes.length; start += 0x8000) {
        binary += String.fromCharCode(...bytes.subarray(start, start + 0x8000));
    }
    return btoa(binary);
}

// The messages that prepare one generation: the MIDI parts, and the loop when it is wanted.
async function prepareMessages(generation, withLoop) {
    const messages =
        buildParts(generation).map((part) => ({
                                       type: 'prepare',
                                       bytes: Array.from(part.bytes),
                                       clip: {clipId: part.clipId, generation, name: part.name},
                                   }));
    if (withLoop) {
        messages.push({
            type: 'prepareAudio',
            dataBase64: base64(await renderLoop(generation)),
            clip: {clipId: loopName, generation, name: `Loop ${generation}`},
        });
    }
    return messages;
}

/**
 * @param {{send: (message: object) => Promise<object>, handles: Record<string, HTMLElement>,
 *     buildButton: HTMLElement, status: HTMLElement}} parts  handles: one per name of
 *     handleNames
 */
export function connectArrangement({send, handles, buildButton, status}) {
    let generation = 0;
    let ready = false;
    let withLoop = false;  // whether the helper takes the audio loop
    let armed = null;      // {handle, text, until, token}: the armed drag's marker, its lease's end
    let wanted = null;     // the handle the pointer is on
    let arming = false;
    const say = (text) => {
        status.textContent = text;
    };
    const enable = (on) => Object.values(handles).forEach(
        (handle) => handle.setAttribute('aria-disabled', String(!on)));

    buildButton.addEventListener('click', async () => {
        generation += 1;
        ready = false;
        armed = null;
        enable(false);
        say('Preparing the arrangement…');
        const hello = await send({type: 'hello'});
        withLoop = hello.ok === true && (hello.capabilities ?? []).includes(audioCapability);
        handles[loopName].hidden = !withLoop;
        handles.all.textContent = withLoop ? 'All four parts' : 'All three parts';
        // All at once: the extension's client paces them to the helper's rate.
        const messages = await prepareMessages(generation, withLoop);
        const replies = await Promise.all(messages.map(send));
        const failed = replies.find((reply) => !reply.ok);
        ready = !failed;
        messages.forEach(({clip}, index) => {
            handles[clip.clipId].textContent = replies[index].fileName ?? clip.name;
        });
        enable(ready);
        say(ready ? `Ready: drag a part, or all ${withLoop ? 'four' : 'three'}.` :
                    `Could not prepare: ${explain(failed)}`);
    });

    // The clips a handle drags: its own part, or every part shown.
    function clipsOf(handle) {
        if (handle !== 'all') {
            return [handle];
        }
        return withLoop ? [...partNames, loopName] : partNames;
    }

    async function watch(token, clipIds) {
        const reply = await send({type: 'outcome', token});
        const current = armed?.token === token;
        if (current) {
            armed = null;
        }
        // A drag ended by arming another handle is no news.
        if (current || !reply.ok || reply.event !== 'ENDED') {
            say(reply.ok ? ending(reply, clipIds) : explain(reply));
        }
    }

    // Arms the handle the pointer is on, unless its marker has more than a second of its lease
    // left (arming again would only renew it). The helper holds one armed drag: arming one
    // handle ends the drag of another.
    async function arm(handle) {
        wanted = handle;
        if (!ready || arming) {
            return;
        }
        arming = true;
        while (ready && !(armed?.handle === wanted && Date.now() < armed.until - 1000)) {
            const target = wanted;
            const clipIds = clipsOf(target);
            const reply = await send({type: 'arm', clipIds});
            if (!reply.ok) {
                armed = null;
                say(`Could not arm the drag: ${explain(reply)}`);
                break;
            }
            const renewed = armed?.token === reply.token;
            armed = {
                handle: target,
                text: reply.marker,
                until: Date.now() + reply.leaseMs,
                token: reply.token
            };
            if (!renewed) {
                watch(reply.token, clipIds);
            }
        }
        arming = false;
    }

    for (const [name, handle] of Object.entries(handles)) {
        handle.addEventListener('pointerenter', () => arm(name));
        handle.addEventListener('pointerdown', () => arm(name));
        handle.addEventListener('dragstart', (event) => {
            if (!ready) {
                event.preventDefault();
                return;
            }
            if (armed?.handle === name && Date.now() < armed.until) {
                event.dataTransfer.setData('text/plain', armed.text);
                event.dataTransfer.effectAllowed = 'copy';
                say('Dragging: drop onto a track.');
            } else {
                // No marker on the drag: the host cannot recognise it, so the drop gets no file.
                say('The drag started before it was armed: this drag carries no file. Try again.');
            }
        });
    }
}
