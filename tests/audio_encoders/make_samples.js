// Writes samples/: short files from the encoders web pages use to make audio in the browser
// (wavefile, audiobuffer-to-wav, lamejs), at the versions package-lock.json pins. The audio
// check's tests read the committed files, so they need no Node; run `npm ci && npm run samples`
// here to make them again. The output is the same on every run.
import { mkdirSync, readFileSync, writeFileSync } from 'node:fs';
import { createRequire } from 'node:module';
import { dirname, join } from 'node:path';
import { fileURLToPath } from 'node:url';
import { runInNewContext } from 'node:vm';

const require = createRequire(import.meta.url);
const { WaveFile } = require('wavefile');
const audioBufferToWav = require('audiobuffer-to-wav');
// Pages load lamejs's browser build with a script tag, which defines the global lamejs; its
// Node entry point fails in this version ("MPEGMode is not defined").
const lamejsGlobals = {};
runInNewContext(readFileSync(require.resolve('lamejs/lame.min.js'), 'utf8'), lamejsGlobals);
const { lamejs } = lamejsGlobals;

const samplesDir = join(dirname(fileURLToPath(import.meta.url)), 'samples');
mkdirSync(samplesDir, { recursive: true });

// A chord with a little deterministic noise, one Float32Array per channel.
function tone(channels, sampleRate, frames) {
  let state = 7;
  const data = [];
  for (let channel = 0; channel < channels; ++channel) {
    const samples = new Float32Array(frames);
    for (let frame = 0; frame < frames; ++frame) {
      state = (state * 1103515245 + 12345) % 2147483648;
      const time = frame / sampleRate;
      samples[frame] = 0.4 * Math.sin(2 * Math.PI * (220 + 110 * channel) * time) +
        0.2 * Math.sin(2 * Math.PI * 659.25 * time) + 0.05 * (state / 2147483648 - 0.5);
    }
    data.push(samples);
  }
  return data;
}

function toInt16(samples) {
  return Int16Array.from(samples, (value) => Math.round(value * 32767));
}

function save(name, bytes) {
  writeFileSync(join(samplesDir, name), Buffer.from(bytes));
}

// wavefile: the sample values as integers of the bit depth, or floats; then its conversions
// to the compressed encodings, which the check refuses.
function wavefile(name, channels, sampleRate, bitDepth, frames, convert) {
  const data = tone(channels, sampleRate, frames).map((samples) => {
    if (bitDepth === '32f' || bitDepth === '64') {
      return Float64Array.from(samples);
    }
    const bits = Number(bitDepth);
    const scale = 2 ** (bits - 1) - 1;
    return Array.from(samples, (value) =>
      bits === 8 ? Math.round(value * 127) + 128 : Math.round(value * scale));
  });
  const wav = new WaveFile();
  wav.fromScratch(channels, sampleRate, bitDepth, channels === 1 ? data[0] : data);
  if (convert) {
    convert(wav);
  }
  save(name, wav.toBuffer());
}

wavefile('wavefile_8bit_mono_odd.wav', 1, 8000, '8', 101);
wavefile('wavefile_16bit_stereo.wav', 2, 44100, '16', 400);
wavefile('wavefile_24bit_stereo.wav', 2, 48000, '24', 300);
wavefile('wavefile_32bit_mono.wav', 1, 96000, '32', 300);
wavefile('wavefile_32f_stereo.wav', 2, 44100, '32f', 200);
wavefile('wavefile_64f_mono.wav', 1, 22050, '64', 200);
wavefile('wavefile_16bit_6ch.wav', 6, 48000, '16', 100);
wavefile('wavefile_20bit_stereo.wav', 2, 44100, '20', 100);
wavefile('wavefile_ima_adpcm.wav', 1, 8000, '16', 1010, (wav) => wav.toIMAADPCM());
wavefile('wavefile_alaw.wav', 1, 8000, '16', 400, (wav) => wav.toALaw());
wavefile('wavefile_mulaw.wav', 1, 8000, '16', 400, (wav) => wav.toMuLaw());

// audiobuffer-to-wav: what OfflineAudioContext rendering gives, 16-bit or 32-bit float.
function audioBuffer(channels, sampleRate, frames) {
  const data = tone(channels, sampleRate, frames);
  return {
    numberOfChannels: channels,
    sampleRate,
    length: frames,
    getChannelData: (channel) => data[channel],
  };
}

save('audiobuffer_16bit_stereo.wav', audioBufferToWav(audioBuffer(2, 44100, 500)));
save('audiobuffer_16bit_mono.wav', audioBufferToWav(audioBuffer(1, 48000, 333)));
save('audiobuffer_float32_stereo.wav',
  audioBufferToWav(audioBuffer(2, 48000, 300), { float32: true }));

// lamejs: 16-bit samples in blocks of 1152, then the flush, as its own example does.
function lame(name, channels, sampleRate, kbps, frames) {
  const [left, right] = tone(channels, sampleRate, frames).map(toInt16);
  const encoder = new lamejs.Mp3Encoder(channels, sampleRate, kbps);
  const parts = [];
  for (let start = 0; start < frames; start += 1152) {
    const end = Math.min(start + 1152, frames);
    parts.push(channels === 1 ? encoder.encodeBuffer(left.subarray(start, end))
      : encoder.encodeBuffer(left.subarray(start, end), right.subarray(start, end)));
  }
  parts.push(encoder.flush());
  save(name, Buffer.concat(parts.map((part) => Buffer.from(part.buffer, part.byteOffset, part.length))));
}

lame('lamejs_128k_stereo_44100.mp3', 2, 44100, 128, 8000);
lame('lamejs_64k_mono_22050.mp3', 1, 22050, 64, 6000);
lame('lamejs_16k_mono_8000.mp3', 1, 8000, 16, 4000);
lame('lamejs_320k_stereo_48000.mp3', 2, 48000, 320, 4000);
