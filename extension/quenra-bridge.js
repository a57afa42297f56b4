// Client of the Quenra Bridge native host for Manifest V3 service workers and extension pages.
// One BridgeClient owns one native port: it binds the host with HELLO, matches every reply to
// its request by request id, hands drag events to listeners by token, and opens a new port (and
// says HELLO again) on the next call after the old one went away. No dependencies.

/** Native messaging host name of the released host. */
export const releaseHostName = 'tech.ostrell.quenra.bridge';
/** Host name of the development registration (quenra-bridge-setup --register --development). */
export const developmentHostName = 'tech.ostrell.quenra.bridge_dev';
/** IDs of the released extension and of its development build (loaded with the development key). */
export const releaseExtensionId = 'kembcdlbgbcnnchcnbdhbmbhbejnedjf';
export const developmentExtensionId = 'dgldcbgpnkooljhfhcjpkojcdnfkepnb';

/**
 * The host name registered for an extension: each registration allows one extension only, so the
 * development build talks to the development registration.
 * @param {string} extensionId  usually chrome.runtime.id
 * @returns {string}
 */
export function hostNameFor(extensionId) {
    return extensionId === developmentExtensionId ? developmentHostName : releaseHostName;
}
/** Protocol version sent with every request. */
export const protocolVersion = '1.0';
/** Largest clip the host accepts, in bytes. */
export const maxMidiBytes = 16777216;
/** Longest suggested name, in UTF-16 code units. */
export const maxNameLength = 200;
/** Life of an armed drag in the host, in milliseconds (ARMED also reports it as leaseMs). */
export const armLeaseMs = 10000;
/** Most clips one drag carries; arm takes one PREPARED or a list of 2 up to this many. */
export const maxClipsPerDrag = 16;
/** What HELLO_OK's capabilities name when the host arms a list of clips as one drag. */
export const multiClipCapability = 'multi-clip-drag-1';
/** What HELLO_OK's capabilities name when the host takes audio clips (prepareAudio). */
export const audioCapability = 'audio-clip-1';
/** Largest audio clip the host accepts, in bytes (1 GiB). */
export const maxAudioBytes = 1073741824;
/** The audio formats the host takes, as UPLOAD names them. */
export const audioFormats = Object.freeze(['wav', 'aiff', 'flac', 'mp3']);
/** Uploads the host keeps open at once for one connection; prepareAudio waits for a free one. */
export const maxOpenUploads = 4;

// The host's PREPARE rate: at most 8 requests and 48 MiB of clips within any 2 seconds, counted
// from the moment it reads each request. Exceeding it costs a RATE_LIMITED refusal.
const prepareBurst = 8;
const prepareBurstBytes = 50331648;
const rateWindowMs = 2000;
// Added to the window so that two clocks' rounding can never let a PREPARE in early.
const rateMarginMs = 20;

const identifierPattern = /^[A-Za-z0-9_-]+$/;
const maxGeneration = 9007199254740991;
const maxEpoch = 2147483647;
const eventTypes = new Set(['PUBLISHED', 'DRAG_FAILED', 'EXPIRED']);
// Refusals after which the host holds nothing of an upload, so there is nothing to release.
const hostEnds = new Set(['HASH_MISMATCH', 'NOT_AUDIO', 'UNKNOWN_PREPARED', 'DISCONNECTED']);
const base64Alphabet = 'ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/';
const littleEndian = new Uint8Array(new Uint16Array([1]).buffer)[0] === 1;
let base64Pairs = null;  // 4096 entries: two base64 characters (as ASCII codes) per 12 bits
/**
 * A refusal: the host's ERROR reply (code is its wire code, such as "BUSY"), a request refused
 * before sending with the code the host would give ("TOO_LARGE", "BAD_REQUEST"), or a failure of
 * the connection itself ("TIMEOUT", "DISCONNECTED").
 */
export class BridgeError extends Error {
    /**
     * @param {string} code
     * @param {string} message
     * @param {object} [reply] the host's ERROR reply, when there is one
     */
    constructor(code, message, reply) {
        super(message);
        this.name = 'BridgeError';
        /** @type {string} */
        this.code = code;
        /** @type {object | undefined} */
        this.reply = reply;
    }
}

function isIdentifier(text, min, max) {
    return typeof text === 'string' && text.length >= min && text.length <= max &&
        identifierPattern.test(text);
}

function isWhole(value, min, max) {
    return Number.isInteger(value) && value >= min && value <= max;
}

function refuse(code, message) { return Promise.reject(new BridgeError(code, message)); }

/**
 * Standard base64 of bytes, built in chunks so that its cost stays linear in the length.
 * @param {Uint8Array} bytes
 * @returns {string}
 */
export function base64(bytes) {
    if (typeof bytes.toBase64 === 'function') {
        return bytes.toBase64();
    }
    // Without toBase64: the ASCII text is written into one byte buffer, twelve bits at a time,
    // and turned into a string once, so the cost is linear and no large argument lists are made.
    if (!base64Pairs) {
        base64Pairs = new Uint16Array(4096);
        for (let i = 0; i < 4096; i++) {
            const first = base64Alphabet.charCodeAt(i >> 6);
            const second = base64Alphabet.charCodeAt(i & 63);
            base64Pairs[i] = littleEndian ? first | (second << 8) : (first << 8) | second;
        }
    }
    const length = bytes.length;
    const out = new Uint8Array(4 * Math.ceil(length / 3));
    const pairs = new Uint16Array(out.buffer, 0, out.length >> 1);
    const whole = length - (length % 3);
    let p = 0;
    for (let i = 0; i < whole; i += 3) {
        const n = (bytes[i] << 16) | (bytes[i + 1] << 8) | bytes[i + 2];
        pairs[p++] = base64Pairs[n >> 12];
        pairs[p++] = base64Pairs[n & 0xfff];
    }
    if (whole < length) {
        const second = whole + 1 < length;
        const n = (bytes[whole] << 16) | (second ? bytes[whole + 1] << 8 : 0);
        let o = p * 2;
        out[o++] = base64Alphabet.charCodeAt(n >> 18);
        out[o++] = base64Alphabet.charCodeAt((n >> 12) & 63);
        out[o++] = second ? base64Alphabet.charCodeAt((n >> 6) & 63) : 0x3d;
        out[o] = 0x3d;
    }
    return new TextDecoder().decode(out);
}

/**
 * SHA-256 of bytes as 64 lowercase hexadecimal digits.
 * @param {Uint8Array} bytes
 * @param {SubtleCrypto} [subtle]
 * @returns {Promise<string>}
 */
export async function sha256Hex(bytes, subtle = globalThis.crypto.subtle) {
    const digest = new Uint8Array(await subtle.digest('SHA-256', bytes));
    let hex = '';
    for (const byte of digest) {
        hex += byte.toString(16).padStart(2, '0');
    }
    return hex;
}

/**
 * A fresh session id: 24 characters of base64url from 18 random bytes.
 * @param {Crypto} [random]
 * @returns {string}
 */
export function newSessionId(random = globalThis.crypto) {
    const bytes = random.getRandomValues(new Uint8Array(18));
    return base64(bytes).replaceAll('+', '-').replaceAll('/', '_');
}

/**
 * Why a prepare request would be refused by the host before it looked at the clip, or null.
 * @returns {{code: string, message: string} | null}
 */
export function prepareRefusal(bytes, clip) {
    return clipRefusal(bytes.length, maxMidiBytes, clip);
}

/**
 * Why an audio upload would be refused by the host before it looked at the clip, or null.
 * @param {number} byteLength
 * @returns {{code: string, message: string} | null}
 */
export function uploadRefusal(byteLength, clip) {
    if (clip.format !== undefined && !audioFormats.includes(clip.format)) {
        return {code: 'BAD_REQUEST', message: `format must be one of ${audioFormats.join(', ')}`};
    }
    return clipRefusal(byteLength, maxAudioBytes, clip);
}

function clipRefusal(byteLength, maxBytes, {clipId, generation, name}) {
    if (!isIdentifier(clipId, 1, 64)) {
        return {code: 'BAD_REQUEST', message: 'clipId must be 1 to 64 of A-Z a-z 0-9 _ -'};
    }
    if (!isWhole(generation, 1, maxGeneration)) {
        return {code: 'BAD_REQUEST', message: 'generation must be a whole number from 1'};
    }
    if (byteLength === 0) {
        return {code: 'BAD_REQUEST', message: 'the clip is empty'};
    }
    if (byteLength > maxBytes) {
        return {code: 'TOO_LARGE', message: `the clip is over ${maxBytes} bytes`};
    }
    if (typeof name !== 'string' || name.length > maxNameLength) {
        return {code: 'BAD_REQUEST', message: `the name must be at most ${maxNameLength} units`};
    }
    // String.prototype.trim removes exactly the whitespace set the host trims.
    if (name.trim() === '') {
        return {code: 'BAD_REQUEST', message: 'the name is empty'};
    }
    return null;
}

// The four members ARM names a prepared clip by.
function armedClip({preparedId, clipId, generation, sha256}) {
    return {preparedId, clipId, generation, sha256};
}

// Why the host would refuse to arm this list as it stands, or null.
function listRefusal(list) {
    if (list.length < 2 || list.length > maxClipsPerDrag) {
        return `a list arms 2 to ${maxClipsPerDrag} clips (arm one clip by its PREPARED alone)`;
    }
    const ids = new Set(list.map((prepared) => prepared?.preparedId));
    if (ids.size !== list.length) {
        return 'the list names a prepared clip twice';
    }
    return null;
}

/**
 * The audio format a file's first bytes announce ("wav", "aiff", "flac" or "mp3"), or null. Only
 * the header is looked at: the host checks the whole file against the format it is given.
 * @param {Uint8Array} head  the file's first 12 bytes (fewer when the file is shorter)
 * @returns {'wav' | 'aiff' | 'flac' | 'mp3' | null}
 */
export function sniffAudioFormat(head) {
    const tag = (start, end) => String.fromCharCode(...head.subarray(start, end));
    if (tag(0, 4) === 'RIFF' && tag(8, 12) === 'WAVE') {
        return 'wav';
    }
    if (tag(0, 4) === 'FORM' && (tag(8, 12) === 'AIFF' || tag(8, 12) === 'AIFC')) {
        return 'aiff';
    }
    if (tag(0, 4) === 'fLaC') {
        return 'flac';
    }
    return tag(0, 3) === 'ID3' || isMpegFrameHeader(head) ? 'mp3' : null;
}

// Eleven sync bits, then no reserved value: version 01, layer 00 (which is AAC's ADTS), bit rate
// 1111 and sample rate 11 never start an MPEG audio frame.
function isMpegFrameHeader(head) {
    const [sync, version, rates] = head;
    return head.length >= 4 && sync === 0xff && (version & 0xe0) === 0xe0 &&
        (version & 0x18) !== 0x08 && (version & 0x06) !== 0 && (rates & 0xf0) !== 0xf0 &&
        (rates & 0x0c) !== 0x0c;
}

function asBytes(data) {
    if (data instanceof Uint8Array) {
        return data;
    }
    if (data instanceof ArrayBuffer) {
        return new Uint8Array(data);
    }
    if (ArrayBuffer.isView(data)) {
        return new Uint8Array(data.buffer, data.byteOffset, data.byteLength);
    }
    throw new TypeError('the clip must be a Uint8Array, an ArrayBuffer or a typed array view');
}

// An audio clip's bytes, read a range at a time: a Blob is read only where and when it is needed.
function audioSource(data) {
    if (typeof Blob === 'function' && data instanceof Blob) {
        return {
            size: data.size,
            read: async (start, end) => new Uint8Array(await data.slice(start, end).arrayBuffer()),
        };
    }
    const bytes = asBytes(data);
    return {size: bytes.length, read: async (start, end) => bytes.subarray(start, end)};
}

/**
 * @typedef {object} BridgeClientOptions
 * @property {string} [hostName] native messaging host name (default the released host)
 * @property {string} [extensionVersion] dotted version sent in HELLO (default "0.1.0")
 * @property {number} [timeoutMs] longest wait for a reply (default 10000)
 * @property {number} [prepareTimeoutMs] longest wait for PREPARED (default 30000)
 * @property {{connectNative(name: string): any, lastError?: {message?: string}}} [runtime]
 *     default chrome.runtime
 * @property {Crypto} [crypto] default globalThis.crypto
 * @property {() => number} [now] milliseconds on a clock that never goes back, which paces the
 *     PREPAREs (default performance.now)
 */

/**
 * @typedef {object} AudioClipInfo
 * @property {string} clipId
 * @property {number} generation
 * @property {string} name  the suggested file name; the host adds the format's extension
 * @property {'wav' | 'aiff' | 'flac' | 'mp3'} [format]  default: read from the file's header
 * @property {(progress: {received: number, byteLength: number}) => void} [onProgress]  called
 *     once per chunk the host has taken, last with received = byteLength just before the
 *     promise resolves
 * @property {AbortSignal} [signal]  rejects with its reason at once, and ends the upload
 */

/**
 * @typedef {object} Prepared  the host's PREPARED reply
 * @property {string} preparedId
 * @property {string} clipId
 * @property {number} generation
 * @property {string} sha256
 * @property {number} byteLength
 * @property {string} fileName
 * @property {string} [format]  an audio clip's format
 */

/**
 * @typedef {object} Armed  the host's ARMED reply, plus the drag's outcome
 * @property {string} [preparedId]  one clip armed
 * @property {string} [clipId]
 * @property {number} [generation]
 * @property {{preparedId: string, clipId: string, generation: number}[]} [clips]  a list armed,
 *     in the order its files are on the drag
 * @property {string} token
 * @property {string} marker  the text the drag's text/plain must be, set at dragstart
 * @property {number} leaseMs
 * @property {Promise<object | null>} outcome  the PUBLISHED, DRAG_FAILED or EXPIRED event (a
 *     list's PUBLISHED names every clip in "clips"); null when the drag ends without one (CANCEL,
 *     RELEASE, a newer generation, a lost connection)
 */

export class BridgeClient {
    /** @param {BridgeClientOptions} [options] */
    constructor(options = {}) {
        this.hostName = options.hostName ?? releaseHostName;
        this.extensionVersion = options.extensionVersion ?? '0.1.0';
        this.timeoutMs = options.timeoutMs ?? 10000;
        this.prepareTimeoutMs = options.prepareTimeoutMs ?? 30000;
        this.runtime = options.runtime ?? globalThis.chrome?.runtime;
        this.crypto = options.crypto ?? globalThis.crypto;
        this.now = options.now ?? (() => performance.now());
        /** The session every request names; the epoch counts the connections opened. */
        this.session = {id: newSessionId(this.crypto), epoch: 0};
        /** The HELLO_OK of the current connection, or null. */
        this.hello = null;
        this.counter = 0;
        this.connection = null;
        this.listeners = new Map();  // token, or '*' for every event → Set of functions
        this.outcomes = new Map();   // token → resolve of its Armed.outcome
        this.disconnectListeners = new Set();
        this.prepareTurn = Promise.resolve();
        // The PREPAREs the current host may still count against its rate window, oldest first:
        // {bytes, at, answered}, at being when its answer came (Infinity until it does).
        this.counted = [];
        this.uploads = new Set();  // the audio uploads holding one of the host's open places
        this.waitingUploads = [];  // {open, resolve} of the ones waiting for a place, in order
    }

    /**
     * Calls listener with every drag event for token ('*' for all tokens).
     * @returns {() => void} removes the listener
     */
    onEvent(token, listener) {
        if (!this.listeners.has(token)) {
            this.listeners.set(token, new Set());
        }
        this.listeners.get(token).add(listener);
        return () => this.listeners.get(token)?.delete(listener);
    }

    /**
     * Calls listener with a BridgeError each time a connection ends.
     * @returns {() => void} removes the listener
     */
    onDisconnect(listener) {
        this.disconnectListeners.add(listener);
        return () => this.disconnectListeners.delete(listener);
    }

    /** @returns {Promise<object>} the STATUS reply */
    status() { return this.request('STATUS', {}); }

    /**
     * Opens the connection if there is none.
     * @returns {Promise<object>} its HELLO_OK, with the host's capabilities
     */
    async connect() { return (await this.connected()).hello; }

    /**
     * Stores a clip in the host's cache.
     * @param {Uint8Array | ArrayBuffer | ArrayBufferView} data
     * @param {{clipId: string, generation: number, name: string}} clip
     * @returns {Promise<Prepared>}
     */
    async prepare(data, clip) {
        const bytes = asBytes(data);
        const refusal = prepareRefusal(bytes, clip);
        if (refusal) {
            throw new BridgeError(refusal.code, refusal.message);
        }
        const {turn, done} = this.takeTurn();
        let reply;
        try {
            const sha256 = await sha256Hex(bytes, this.crypto.subtle);
            const text = base64(bytes);
            await turn;
            // A page preparing many parts at once waits here for the host's window, in turn,
            // instead of being refused.
            const place = await this.placeInWindow(bytes.length);
            reply = this.request(
                'PREPARE', {
                    clipId: clip.clipId,
                    generation: clip.generation,
                    sha256,
                    byteLength: bytes.length,
                    midiBase64: text,
                    suggestedName: clip.name,
                },
                this.prepareTimeoutMs);
            reply.then((newer) => {
                this.answered(place);
                this.supersede(newer);
            }, () => this.answered(place));
        } finally {
            await done();
        }
        return reply;
    }

    // Clips are stored in call order whatever their sizes, so a newer generation of a clip can
    // never reach the host before an older one it supersedes: the request waits for `turn`, and
    // `done` passes the turn on once it is sent (or given up).
    takeTurn() {
        const turn = this.prepareTurn;
        let pass;
        this.prepareTurn = new Promise((resolve) => {
            pass = resolve;
        });
        return {turn, done: () => turn.then(pass)};
    }

    // A newer generation replaces the older ones in the host, and ends their drag.
    supersede(newer) {
        this.endDragsOf(
            (clip) => clip.clipId === newer.clipId && clip.generation < newer.generation);
    }

    /**
     * Stores an audio clip in the host's cache, sent in chunks (UPLOAD, then UPLOAD_CHUNKs).
     * @param {Blob | Uint8Array | ArrayBuffer | ArrayBufferView} data
     * @param {AudioClipInfo} clip
     * @returns {Promise<Prepared>}  the PREPARED of the last chunk, with its "format"
     */
    async prepareAudio(data, clip) {
        const source = audioSource(data);
        const refusal = uploadRefusal(source.size, clip);
        if (refusal) {
            throw new BridgeError(refusal.code, refusal.message);
        }
        const {signal} = clip;
        signal?.throwIfAborted();
        const format = clip.format ?? sniffAudioFormat(await source.read(0, 12));
        if (!format) {
            throw new BridgeError(
                'NOT_AUDIO', 'the bytes are not a WAV, AIFF, FLAC or MP3 file (or give format)');
        }
        // Refused here, before the bytes are read and hashed for nothing.
        await this.audioConnection();
        signal?.throwIfAborted();
        const upload = this.upload(source, {...clip, format});
        if (!signal) {
            return upload;
        }
        // An abort rejects at once; the upload itself stops at its next step and gives back
        // what the host holds for it.
        let stop;
        const aborted = new Promise((resolve, reject) => {
            stop = () => reject(signal.reason);
        });
        signal.addEventListener('abort', stop);
        try {
            return await Promise.race([upload, aborted]);
        } finally {
            signal.removeEventListener('abort', stop);
        }
    }

    // The current connection, if its host takes audio clips.
    async audioConnection() {
        const connection = await this.connected();
        if (!connection.hello.capabilities?.includes?.(audioCapability)) {
            throw new BridgeError(
                'NOT_SUPPORTED', 'this Quenra Bridge host takes MIDI clips only: update it');
        }
        return connection;
    }

    // One upload's life: a place among the host's open uploads, the hash, UPLOAD in turn and
    // paced like a PREPARE, then the chunks one at a time on the same connection. Whatever ends it
    // early (a refusal, an abort, a newer generation, a throwing onProgress) lets go of the
    // upload in the host unless the host has already ended it.
    async upload(source, {clipId, generation, name, format, onProgress, signal}) {
        const byteLength = source.size;
        // uploadId and connection are set once the host holds the upload; preparedId once it
        // holds the prepared clip instead.
        const open = {
            clipId,
            generation,
            uploadId: null,
            preparedId: null,
            connection: null,
            superseded: false,
        };
        const replaced = () =>
            new BridgeError('STALE', `a newer generation of ${clipId} replaced this upload`);
        const stopIfEnded = () => {
            signal?.throwIfAborted();
            if (open.superseded) {
                throw replaced();
            }
        };
        await this.holdUpload(open);
        try {
            const {chunkMaxBytes} = await this.startUpload(source, open, stopIfEnded, {
                clipId,
                generation,
                sha256: null,
                byteLength,
                suggestedName: name,
                format,
            });
            if (!Number.isInteger(chunkMaxBytes) || chunkMaxBytes < 1) {
                throw new BridgeError('INTERNAL', 'UPLOADING has no usable chunkMaxBytes');
            }
            for (let offset = 0;;) {
                stopIfEnded();
                const end = Math.min(offset + chunkMaxBytes, byteLength);
                const dataBase64 = base64(await source.read(offset, end));
                stopIfEnded();
                const reply = await this.send(
                    open.connection, 'UPLOAD_CHUNK', {uploadId: open.uploadId, offset, dataBase64},
                    this.prepareTimeoutMs);
                offset = end;
                if (offset === byteLength) {
                    const prepared = this.uploaded(open, reply);
                    signal?.throwIfAborted();
                    onProgress?.({received: offset, byteLength});
                    return prepared;
                }
                onProgress?.({received: offset, byteLength});
            }
        } catch (error) {
            const held = open.preparedId ?? open.uploadId;
            const stale = open.superseded && !open.preparedId && error?.code !== 'DISCONNECTED';
            if (held && !stale && !hostEnds.has(error?.code)) {
                this.releaseQuietly(open.connection, held);
            }
            throw stale ? replaced() : error;
        } finally {
            this.endUpload(open);
        }
    }

    // Hashes the clip, then sends UPLOAD in its turn and in the rate window; resolves with the
    // UPLOADING reply once the host holds the upload.
    async startUpload(source, open, stopIfEnded, fields) {
        const {turn, done} = this.takeTurn();
        let answer;
        try {
            stopIfEnded();
            fields.sha256 = await sha256Hex(await source.read(0, source.size), this.crypto.subtle);
            await turn;
            stopIfEnded();
            const connection = await this.audioConnection();
            const place = await this.placeInWindow(0);  // one request and no clip bytes
            answer = this.send(connection, 'UPLOAD', fields, this.timeoutMs);
            // Taken as the reply arrives, before any later reply (a refusal of an older
            // generation's chunk) is looked at.
            answer.then((reply) => {
                this.answered(place);
                this.opened(open, connection, reply.uploadId);
            }, () => this.answered(place));
        } finally {
            await done();
        }
        const reply = await answer;
        stopIfEnded();
        return reply;
    }

    // The host holds the upload now, and has ended the older generations' uploads of the clip.
    opened(open, connection, uploadId) {
        open.connection = connection;
        open.uploadId = uploadId;
        for (const other of this.uploads) {
            if (other.clipId === open.clipId && other.generation < open.generation) {
                other.superseded = true;
            }
        }
    }

    // The last chunk's reply: the prepared clip.
    uploaded(open, reply) {
        if (reply.type !== 'PREPARED') {
            throw new BridgeError('INTERNAL', `the last chunk was answered ${reply.type}`, reply);
        }
        open.uploadId = null;
        open.preparedId = reply.preparedId;
        this.supersede(reply);
        return reply;
    }

    releaseQuietly(connection, preparedId) {
        this.send(connection, 'RELEASE', {preparedId}, this.timeoutMs).catch(() => {});
    }

    // Waits for one of the host's maxOpenUploads places, in call order, and holds it. A place
    // given up goes straight to the next in line, so no later call can slip in between.
    holdUpload(open) {
        if (this.uploads.size < maxOpenUploads) {
            this.uploads.add(open);
            return Promise.resolve();
        }
        return new Promise((resolve) => this.waitingUploads.push({open, resolve}));
    }

    endUpload(open) {
        if (this.uploads.delete(open)) {
            const next = this.waitingUploads.shift();
            if (next) {
                this.uploads.add(next.open);
                next.resolve();
            }
        }
    }

    // Takes a place for one PREPARE of `bytes` in the host's rate window, waiting until there is
    // one. The host stamps a PREPARE when it reads it, before its answer can arrive here; so a
    // PREPARE counted from its answer leaves this client's window after the host's does. One
    // refused or unanswered still counts: the host counts every one it read.
    async placeInWindow(bytes) {
        for (;;) {
            const now = this.now();
            this.counted = this.counted.filter((p) => p.at + rateWindowMs + rateMarginMs > now);
            const used = this.counted.reduce((sum, p) => sum + p.bytes, 0);
            if (this.counted.length < prepareBurst && used + bytes <= prepareBurstBytes) {
                const place = {bytes, at: Infinity, answered: null, answer: null};
                place.answered = new Promise((resolve) => {
                    place.answer = resolve;
                });
                this.counted.push(place);
                return place;
            }
            const first = Math.min(...this.counted.map((p) => p.at));
            await (
                first === Infinity ?
                    Promise.race(this.counted.map((p) => p.answered)) :
                    new Promise((resolve) => {
                        setTimeout(resolve, first + rateWindowMs + rateMarginMs - now);
                    }));
        }
    }

    answered(place) {
        place.at = this.now();
        place.answer();
    }

    /**
     * Arms a drag of one prepared clip, or of a list of 2 to 16 carried together as one file
     * each, in the list's order. Call it before the browser's dragstart: the marker must be in
     * hand when dragstart fires, and the host must be polling when the drag begins.
     * @param {Prepared | Prepared[]} prepared
     * @returns {Promise<Armed>}
     */
    async arm(prepared) {
        if (!Array.isArray(prepared)) {
            return this.armRequest(armedClip(prepared));
        }
        const refusal = listRefusal(prepared);
        if (refusal) {
            throw new BridgeError('BAD_REQUEST', refusal);
        }
        await this.connected();
        if (!this.hello?.capabilities?.includes?.(multiClipCapability)) {
            throw new BridgeError(
                'NOT_SUPPORTED',
                'this Quenra Bridge host arms one clip per drag: update it to drag several');
        }
        return this.armRequest({clips: prepared.map(armedClip)});
    }

    // The host holds one armed drag, and an ARM that names other clips ends the one before
    // without an event, even when the new drag is then refused (BUSY, INTERNAL). So every answer
    // to an ARM ends the outcomes of the drags before it, except the drag it renews (same token).
    async armRequest(fields) {
        let reply;
        try {
            reply = await this.request('ARM', fields);
        } catch (error) {
            if (error instanceof BridgeError && error.reply) {
                this.endDragsBefore(null);
            }
            throw error;
        }
        this.endDragsBefore(reply.token);
        reply.outcome = this.outcomeOf(reply.token, reply.clips ?? [reply]);
        return reply;
    }

    endDragsBefore(renewed) {
        for (const token of [...this.outcomes.keys()]) {
            if (token !== renewed) {
                this.settle(token, null);
            }
        }
    }

    // Ends, without an event, the armed drags that carry a clip the host has just let go of.
    endDragsOf(gone) {
        for (const [token, pending] of [...this.outcomes]) {
            if (pending.clips.some(gone)) {
                this.settle(token, null);
            }
        }
    }

    /** @returns {Promise<object>} the CANCELLED reply */
    async cancel(token) {
        const reply = await this.request('CANCEL', {token});
        if (reply.wasActive) {
            this.settle(token, null);
        }
        return reply;
    }

    /** @returns {Promise<object>} the RELEASED reply */
    async release(preparedId) {
        const reply = await this.request('RELEASE', {preparedId});
        this.endDragsOf((clip) => clip.preparedId === preparedId);
        return reply;
    }

    /** Closes the port; the host ends and gives up this connection's clips. */
    close() {
        if (this.connection) {
            const connection = this.connection;
            connection.port.disconnect();
            this.lost(connection, 'the client closed the connection');
        }
    }

    outcomeOf(token, clips) {
        const pending = this.outcomes.get(token);
        if (pending) {
            return pending.promise;
        }
        let resolve;
        const promise = new Promise((r) => {
            resolve = r;
        });
        this.outcomes.set(token, {promise, resolve, clips});
        return promise;
    }

    settle(token, event) {
        const pending = this.outcomes.get(token);
        if (pending) {
            this.outcomes.delete(token);
            pending.resolve(event);
        }
    }

    async request(type, fields, timeoutMs = this.timeoutMs) {
        const connection = await this.connected();
        return this.send(connection, type, fields, timeoutMs);
    }

    // The current connection once HELLO_OK came back, opening one when there is none.
    connected() {
        if (!this.connection) {
            this.connection = this.open();
        }
        return this.connection.ready;
    }

    open() {
        if (!this.runtime?.connectNative) {
            throw new BridgeError('DISCONNECTED', 'chrome.runtime.connectNative is not available');
        }
        this.session = {id: this.session.id, epoch: (this.session.epoch % maxEpoch) + 1};
        this.hello = null;
        const port = this.runtime.connectNative(this.hostName);
        const connection = {port, session: this.session, pending: new Map(), ready: null};
        port.onMessage.addListener((message) => this.deliver(connection, message));
        port.onDisconnect.addListener(() => {
            const text = this.runtime.lastError?.message;
            this.lost(
                connection, text ? `the host disconnected: ${text}` : 'the host disconnected');
        });
        connection.ready =
            this.send(
                    connection, 'HELLO', {extensionVersion: this.extensionVersion}, this.timeoutMs)
                .then(
                    (hello) => {
                        this.hello = hello;
                        connection.hello = hello;
                        return connection;
                    },
                    (error) => {
                        if (this.connection === connection) {
                            port.disconnect();
                            this.lost(connection, error.message);
                        }
                        throw error;
                    });
        return connection;
    }

    send(connection, type, fields, timeoutMs) {
        this.counter += 1;
        const requestId = `q${this.counter}`;
        const message = {protocolVersion, session: connection.session, requestId, type, ...fields};
        if (connection.error) {
            return Promise.reject(connection.error);  // a connection that has ended
        }
        return new Promise((resolve, reject) => {
            const timer = setTimeout(() => {
                connection.pending.delete(requestId);
                reject(new BridgeError('TIMEOUT', `no answer to ${type} within ${timeoutMs} ms`));
            }, timeoutMs);
            connection.pending.set(requestId, {type, resolve, reject, timer});
            try {
                connection.port.postMessage(message);
            } catch (error) {
                this.lost(connection, `the port is closed: ${error.message}`);
            }
        });
    }

    deliver(connection, message) {
        if (message === null || typeof message !== 'object') {
            return;
        }
        if (typeof message.requestId !== 'string') {
            if (eventTypes.has(message.type)) {
                this.dispatch(message);
            }
            return;
        }
        const pending = connection.pending.get(message.requestId);
        if (!pending) {
            return;  // a reply that came after its timeout
        }
        connection.pending.delete(message.requestId);
        clearTimeout(pending.timer);
        if (message.type === 'ERROR') {
            pending.reject(new BridgeError(
                String(message.code), `${pending.type} refused: ${message.code}`, message));
        } else {
            pending.resolve(message);
        }
    }

    dispatch(event) {
        for (const key of [event.token, '*']) {
            for (const listener of [...(this.listeners.get(key) ?? [])]) {
                listener(event);
            }
        }
        this.settle(event.token, event);
    }

    // Ends a connection once: every waiting call is rejected, and armed drags end without event
    // (the host ends them when its input closes).
    lost(connection, text) {
        if (this.connection !== connection) {
            return;
        }
        this.connection = null;
        this.hello = null;
        this.counted = [];  // the next host starts with an empty window
        const error = new BridgeError('DISCONNECTED', text);
        connection.error = error;
        for (const pending of connection.pending.values()) {
            clearTimeout(pending.timer);
            pending.reject(error);
        }
        connection.pending.clear();
        for (const token of [...this.outcomes.keys()]) {
            this.settle(token, null);
        }
        for (const listener of [...this.disconnectListeners]) {
            listener(error);
        }
    }
}
