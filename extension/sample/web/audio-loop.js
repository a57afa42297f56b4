// The arrangement's audio part: a two-bar arpeggio over the same harmony as the MIDI parts,
// rendered in the page with an OfflineAudioContext and written as a 16-bit PCM WAV file, the way
// a page that makes audio hands its result to the extension.

const sampleRate = 44100;
const beatSeconds = 0.5;  // 120 beats per minute, the tempo of a MIDI file that names none

// Two bars of sixteenths: the root's major chord up and down, on the fourth in the second bar.
export function renderLoopBuffer(generation, {bars = 2} = {}) {
    const root = 36 + ((generation * 5) % 12);  // the MIDI parts' root for this generation
    const step = beatSeconds / 4;
    const context =
        new OfflineAudioContext(2, Math.round(bars * 16 * step * sampleRate), sampleRate);
    const filter = new BiquadFilterNode(context, {type: 'lowpass', frequency: 2400});
    filter.connect(new GainNode(context, {gain: 0.2})).connect(context.destination);
    const arpeggio = [0, 4, 7, 12, 16, 12, 7, 4];
    for (let index = 0; index < bars * 16; index++) {
        const at = index * step;
        const key = root + 24 + arpeggio[index % 8] + (Math.floor(index / 16) % 2 === 1 ? 5 : 0);
        const tone = new OscillatorNode(
            context, {type: 'sawtooth', frequency: 440 * 2 ** ((key - 69) / 12)});
        const envelope = new GainNode(context, {gain: 0});
        envelope.gain.setValueAtTime(0, at);
        envelope.gain.linearRampToValueAtTime(1, at + 0.005);
        envelope.gain.exponentialRampToValueAtTime(0.001, at + step * 0.95);
        tone.connect(envelope)
            .connect(new StereoPannerNode(context, {pan: index % 2 === 0 ? -0.4 : 0.4}))
            .connect(filter);
        tone.start(at);
        tone.stop(at + step);
    }
    return context.startRendering();
}

/**
 * A WAV file (RIFF, "fmt " for 16-bit PCM, "data") of an AudioBuffer's channels, interleaved.
 * Samples are clipped to [-1, 1] and scaled to the full 16-bit range.
 * @param {{numberOfChannels: number, length: number, sampleRate: number,
 *     getChannelData(channel: number): Float32Array}} buffer
 * @returns {Uint8Array}
 */
export function wavFile(buffer) {
    const channels = buffer.numberOfChannels;
    const blockAlign = channels * 2;
    const dataBytes = buffer.length * blockAlign;
    const bytes = new Uint8Array(44 + dataBytes);
    const view = new DataView(bytes.buffer);
    const tag = (offset, text) => bytes.set(new TextEncoder().encode(text), offset);
    tag(0, 'RIFF');
    view.setUint32(4, 36 + dataBytes, true);
    tag(8, 'WAVE');
    tag(12, 'fmt ');
    view.setUint32(16, 16, true);  // the size of a PCM "fmt " chunk
    view.setUint16(20, 1, true);   // PCM
    view.setUint16(22, channels, true);
    view.setUint32(24, buffer.sampleRate, true);
    view.setUint32(28, buffer.sampleRate * blockAlign, true);
    view.setUint16(32, blockAlign, true);
    view.setUint16(34, 16, true);
    tag(36, 'data');
    view.setUint32(40, dataBytes, true);
    const data = Array.from({length: channels}, (_, channel) => buffer.getChannelData(channel));
    let offset = 44;
    for (let frame = 0; frame < buffer.length; frame++) {
        for (const samples of data) {
            const sample = Math.max(-1, Math.min(1, samples[frame]));
            view.setInt16(offset, Math.round(sample * (sample < 0 ? 32768 : 32767)), true);
            offset += 2;
        }
    }
    return bytes;
}

/** The loop of a generation as WAV bytes (options: {bars}, 2 by default). */
export async function renderLoop(generation, options) {
    return wavFile(await renderLoopBuffer(generation, options));
}
