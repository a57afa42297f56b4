// A page script as an integrator writes it, compiled against quenra-bridge.d.ts: the client's
// types and the DOM's drag events live side by side in one file.

import {type Armed, type ArmedList, audioCapability, type AudioFormat, type BridgeDragEvent, BridgeClient, BridgeError, hostNameFor, type Prepared, sniffAudioFormat, type UploadProgress} from '../../quenra-bridge.js';
// @ts-expect-error the client exports no type named like one of the DOM's
import type {DragEvent as Shadowing} from '../../quenra-bridge.js';

const bridge = new BridgeClient({hostName: hostNameFor('dgldcbgpnkooljhfhcjpkojcdnfkepnb')});
let armed: Armed|null = null;

export async function onPointerDown(clip: Uint8Array): Promise<void> {
    const prepared = await bridge.prepare(clip, {clipId: 'clip-1', generation: 1, name: 'Bass'});
    armed = await bridge.arm(prepared);
    const outcome: BridgeDragEvent|null = await armed.outcome;
    if (outcome?.type === 'PUBLISHED') {
        console.log(outcome.preparedId);
    }
}

// Several parts in one drag: one file each, in the list's order.
export async function dragArrangement(parts: Prepared[]): Promise<string[]> {
    const list: ArmedList = await bridge.arm(parts);
    const outcome = await list.outcome;
    return outcome?.type === 'PUBLISHED' ? (outcome.clips ?? []).map((clip) => clip.preparedId) :
                                           list.clips.map((clip) => clip.clipId);
}

// The DOM's own DragEvent, with its dataTransfer, in the same file.
export function onDragStart(event: DragEvent): void {
    if (armed) {
        event.dataTransfer?.setData('text/plain', armed.marker);
    }
}

document.getElementById('clip')?.addEventListener('dragstart', onDragStart);

bridge.onEvent('*', (event: BridgeDragEvent) => {
    const kind: 'PUBLISHED'|'DRAG_FAILED'|'EXPIRED' = event.type;
    console.log(kind, event.token);
});

export function describe(error: unknown): string {
    return error instanceof BridgeError ? error.code : String(error);
}

export type Unused = Shadowing;

// An audio stem beside MIDI parts: progress while it uploads, a button that stops it.
export async function dragWithStem(
    stem: Blob, parts: Prepared[], stop: AbortSignal): Promise<ArmedList> {
    const hello = await bridge.connect();
    if (!hello.capabilities.includes(audioCapability)) {
        throw new BridgeError('NOT_SUPPORTED', 'update Quenra Bridge');
    }
    const format: AudioFormat|null =
        sniffAudioFormat(new Uint8Array(await stem.slice(0, 12).arrayBuffer()));
    const audio = await bridge.prepareAudio(stem, {
        clipId: 'stem-1',
        generation: 1,
        name: 'Vocals',
        format: format ?? 'wav',
        onProgress: ({received, byteLength}: UploadProgress) => console.log(received / byteLength),
        signal: stop,
    });
    const fileFormat: AudioFormat|undefined = audio.format;
    console.log(fileFormat);
    return bridge.arm([...parts, audio]);
}
