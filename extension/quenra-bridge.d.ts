// Types of quenra-bridge.js, the extension-side client of the Quenra Bridge native host.

export const releaseHostName: 'tech.ostrell.quenra.bridge';
export const developmentHostName: 'tech.ostrell.quenra.bridge_dev';
export const releaseExtensionId: 'kembcdlbgbcnnchcnbdhbmbhbejnedjf';
export const developmentExtensionId: 'dgldcbgpnkooljhfhcjpkojcdnfkepnb';
/** The host name registered for an extension: the development one for the development ID. */
export function hostNameFor(extensionId: string): string;
export const protocolVersion: '1.0';
export const maxMidiBytes: 16777216;
export const maxNameLength: 200;
export const armLeaseMs: 10000;
export const maxClipsPerDrag: 16;
/** Named in HELLO_OK's capabilities by a host that arms several clips as one drag. */
export const multiClipCapability: 'multi-clip-drag-1';
/** Named in HELLO_OK's capabilities by a host that takes audio clips (prepareAudio). */
export const audioCapability: 'audio-clip-1';
/** Largest audio clip the host accepts, in bytes (1 GiB). */
export const maxAudioBytes: 1073741824;
/** The host's open uploads per connection; a further prepareAudio waits for one to end. */
export const maxOpenUploads: 4;
export type AudioFormat = 'wav'|'aiff'|'flac'|'mp3';
export const audioFormats: readonly AudioFormat[];

/**
 * The host's wire codes, and the client's own: a connection that failed, and a list of clips
 * armed, or an audio clip prepared, on a host without the capability (NOT_SUPPORTED, refused
 * before the request is sent).
 */
export type BridgeErrorCode =
    |'BAD_REQUEST'|'UNSUPPORTED_VERSION'|'NOT_READY'|'TOO_LARGE'|'LENGTH_MISMATCH'|'HASH_MISMATCH'|
    'NOT_MIDI'|'UNKNOWN_PREPARED'|'STALE'|'BUSY'|'CACHE_FULL'|'RATE_LIMITED'|'DUPLICATE_REQUEST'|
    'INTERNAL'|'NOT_AUDIO'|'TIMEOUT'|'DISCONNECTED'|'NOT_SUPPORTED';

export class BridgeError extends Error {
    constructor(code: string, message: string, reply?: ErrorReply);
    readonly name: 'BridgeError';
    /** A BridgeErrorCode; kept a string so a newer host's code still reaches the caller. */
    readonly code: BridgeErrorCode|string;
    /** The host's ERROR reply, when the host refused. */
    readonly reply?: ErrorReply;
}

export interface SessionId {
    id: string;
    epoch: number;
}

interface Envelope {
    type: string;
    protocolVersion: string;
    session: SessionId;
}

interface Reply extends Envelope {
    requestId: string;
}

export interface ErrorReply extends Reply {
    type: 'ERROR';
    code: string;
}

export interface HelloReply extends Reply {
    type: 'HELLO_OK';
    helperVersion: string;
    platform: {os: string; version: string; arch: string};
    capabilities: string[];
}

export interface StatusReply extends Reply {
    type: 'STATUS';
    helperVersion: string;
    armed: boolean;
    preparations: number;
    cache: {entries: number; bytes: number};
}

export interface Prepared extends Reply {
    type: 'PREPARED';
    preparedId: string;
    clipId: string;
    generation: number;
    sha256: string;
    byteLength: number;
    fileName: string;
    /** An audio clip's format; a MIDI clip has none. */
    format?: AudioFormat;
}

/**
 * An armed drag's outcome. Named apart from the DOM's DragEvent, which a page's dragstart handler
 * receives in the same file.
 */
export interface BridgeDragEvent extends Envelope {
    type: 'PUBLISHED'|'DRAG_FAILED'|'EXPIRED';
    token: string;
    /** PUBLISHED of one clip only. */
    preparedId?: string;
    /** PUBLISHED of one clip only. */
    generation?: number;
    /** PUBLISHED of a list only: every clip, in the list's order. */
    clips?: Array<{preparedId: string; generation: number}>;
    /** DRAG_FAILED only, for example "INTERNAL". */
    code?: string;
}

interface ArmedDrag extends Reply {
    type: 'ARMED';
    token: string;
    /** The text/plain the drag must carry; set it in dragstart. */
    marker: string;
    leaseMs: number;
    /** The drag's event; null when it ends without one (cancel, release, lost connection). */
    outcome: Promise<BridgeDragEvent|null>;
}

/** One clip armed. */
export interface Armed extends ArmedDrag {
    preparedId: string;
    clipId: string;
    generation: number;
}

/** A list of clips armed as one drag, one file each. */
export interface ArmedList extends ArmedDrag {
    /** In the list's order, which is the order of the files on the drag. */
    clips: Array<{preparedId: string; clipId: string; generation: number}>;
}

/** What ARM names a prepared clip by: a PREPARED reply will do. */
export type PreparedRef = Pick<Prepared, 'preparedId'|'clipId'|'generation'|'sha256'>;

export interface CancelledReply extends Reply {
    type: 'CANCELLED';
    token: string;
    wasActive: boolean;
}

export interface ReleasedReply extends Reply {
    type: 'RELEASED';
    preparedId: string;
}

export interface ClipInfo {
    /** 1 to 64 of A-Z a-z 0-9 _ -; the same for every generation of one clip. */
    clipId: string;
    /** 1 to 2^53 - 1; a higher generation of the clip replaces the lower ones in the host. */
    generation: number;
    /** Suggested file name: 1 to 200 UTF-16 units, not blank. */
    name: string;
}

/** How much of an audio clip the host holds so far. */
export interface UploadProgress {
    received: number;
    byteLength: number;
}

export interface AudioClipInfo extends ClipInfo {
    /** Default: read from the file's header (RIFF/WAVE, FORM/AIFF or AIFC, fLaC, ID3 or MPEG). */
    format?: AudioFormat;
    /**
     * Called once per chunk the host has taken; the last call (received = byteLength) comes just
     * before the promise resolves. A listener that throws ends the upload with its error.
     */
    onProgress?: (progress: UploadProgress) => void;
    /** Aborting rejects with the signal's reason at once, and ends the upload in the host. */
    signal?: AbortSignal;
}

export interface BridgeClientOptions {
    hostName?: string;
    extensionVersion?: string;
    timeoutMs?: number;
    prepareTimeoutMs?: number;
    runtime?: {connectNative(name: string): unknown; lastError?: {message?: string}};
    crypto?: Crypto;
    /** Milliseconds on a clock that never goes back; paces PREPAREs (default performance.now). */
    now?: () => number;
}

export class BridgeClient {
    constructor(options?: BridgeClientOptions);
    readonly hostName: string;
    /** The session every request names; the epoch counts the connections opened. */
    readonly session: SessionId;
    /** HELLO_OK of the current connection, or null while there is none. */
    readonly hello: HelloReply|null;
    status(): Promise<StatusReply>;
    /** Opens the connection if there is none; its HELLO_OK names the host's capabilities. */
    connect(): Promise<HelloReply>;
    /**
     * Waits, rather than be refused, while the host's PREPARE rate (8 and 48 MiB per 2 seconds)
     * is used up.
     */
    prepare(bytes: Uint8Array|ArrayBuffer|ArrayBufferView, clip: ClipInfo): Promise<Prepared>;
    /**
     * A WAV, AIFF, FLAC or MP3 file of up to 1 GiB, sent in chunks; its PREPARED is armed like a
     * MIDI clip's, alone or in a list. NOT_SUPPORTED when the host lacks audioCapability,
     * NOT_AUDIO (before sending) when no format is given and the header names none, STALE when
     * a newer generation of the clip replaces the upload before it ends. A Blob is read a chunk
     * at a time, apart from one whole read for its SHA-256.
     */
    prepareAudio(data: Blob|Uint8Array|ArrayBuffer|ArrayBufferView, clip: AudioClipInfo):
        Promise<Prepared>;
    arm(prepared: PreparedRef): Promise<Armed>;
    /**
     * 2 to 16 clips, one file each in this order. NOT_SUPPORTED, before the ARM is sent, when the
     * host lacks multiClipCapability.
     */
    arm(prepared: readonly PreparedRef[]): Promise<ArmedList>;
    cancel(token: string): Promise<CancelledReply>;
    release(preparedId: string): Promise<ReleasedReply>;
    /** token, or '*' for every token. Returns a function that removes the listener. */
    onEvent(token: string, listener: (event: BridgeDragEvent) => void): () => void;
    onDisconnect(listener: (error: BridgeError) => void): () => void;
    close(): void;
}

export function base64(bytes: Uint8Array): string;
export function sha256Hex(bytes: Uint8Array, subtle?: SubtleCrypto): Promise<string>;
export function newSessionId(random?: Crypto): string;
export function prepareRefusal(bytes: Uint8Array, clip: ClipInfo): {code: string; message: string}|
    null;
export function uploadRefusal(
    byteLength: number, clip: AudioClipInfo): {code: string; message: string}|null;
/** The format a file's first 12 bytes announce, or null. */
export function sniffAudioFormat(head: Uint8Array): AudioFormat|null;
