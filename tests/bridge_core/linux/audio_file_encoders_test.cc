// The audio check against real encoders and a real reader: files that Debian's sox, flac, lame
// and libsndfile write, and those the npm encoders of web pages wrote into
// tests/audio_encoders/samples/, must be accepted; and whatever the check accepts as WAV, AIFF
// or FLAC, libsndfile must read to its last frame, also after random damage to a real file.
#include <gtest/gtest.h>
#include <sndfile.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <random>

#include "bridge_core/audio_file.h"
#include "support/child_process.h"
#include "support/temporary_directory.h"

namespace quenra {
namespace {

ByteBuffer readBytes(const std::string& path) {
    std::ifstream stream(path, std::ios::binary);
    return ByteBuffer(std::istreambuf_iterator<char>(stream), std::istreambuf_iterator<char>());
}

// Runs a shell command in directory; its exit status.
int run(const std::string& directory, const std::string& command) {
    testing::ChildProcess child = testing::ChildProcess::start([&] {
        if (::chdir(directory.c_str()) != 0) {
            return 126;
        }
        ::execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
        return 127;
    });
    return child.wait();
}

// libsndfile reading from memory.
struct MemoryFile {
    const ByteBuffer& bytes;
    sf_count_t position = 0;
};

SF_VIRTUAL_IO memoryIo() {
    SF_VIRTUAL_IO io{};
    io.get_filelen = [](void* data) {
        return static_cast<sf_count_t>(static_cast<MemoryFile*>(data)->bytes.size());
    };
    io.seek = [](sf_count_t offset, int whence, void* data) {
        auto* file = static_cast<MemoryFile*>(data);
        const auto size = static_cast<sf_count_t>(file->bytes.size());
        const sf_count_t base = whence == SEEK_SET ? 0 : whence == SEEK_CUR ? file->position : size;
        file->position = std::clamp<sf_count_t>(base + offset, 0, size);
        return file->position;
    };
    io.read = [](void* destination, sf_count_t count, void* data) {
        auto* file = static_cast<MemoryFile*>(data);
        const sf_count_t available = static_cast<sf_count_t>(file->bytes.size()) - file->position;
        const sf_count_t copied = std::min(count, available);
        std::memcpy(destination, file->bytes.data() + file->position,
                    static_cast<std::size_t>(copied));
        file->position += copied;
        return copied;
    };
    io.write = [](const void*, sf_count_t, void*) { return sf_count_t{0}; };
    io.tell = [](void* data) { return static_cast<MemoryFile*>(data)->position; };
    return io;
}

struct SndfileRead {
    bool opened = false;
    sf_count_t announced = 0;  // the frames libsndfile says the file has
    sf_count_t read = 0;
    int error = 0;

    // Every frame announced, or any when the file does not say how many (SF_COUNT_MAX).
    bool toTheEnd() const {
        return opened && error == 0 && read > 0 && (read == announced || announced == SF_COUNT_MAX);
    }
};

SndfileRead readWithSndfile(const ByteBuffer& bytes) {
    MemoryFile memory{bytes};
    SF_VIRTUAL_IO io = memoryIo();
    SF_INFO info{};
    SNDFILE* file = sf_open_virtual(&io, SFM_READ, &info, &memory);
    SndfileRead result;
    if (file == nullptr) {
        return result;
    }
    result.opened = true;
    result.announced = info.frames;
    std::vector<float> frames(static_cast<std::size_t>(1024 * info.channels));
    for (sf_count_t count; (count = sf_readf_float(file, frames.data(), 1024)) > 0;) {
        result.read += count;
    }
    result.error = sf_error(file);
    sf_close(file);
    return result;
}

void expectReadToTheEnd(const ByteBuffer& bytes) {
    const SndfileRead read = readWithSndfile(bytes);
    EXPECT_TRUE(read.toTheEnd()) << "opened " << read.opened << ", " << read.read << " of "
                                 << read.announced << " frames, error " << read.error;
}

struct Encoded {
    const char* file;
    AudioFormat format;
    const char* command;  // run in the files' folder; "OUT" is the file
    std::string_view brokenRule = {};
};

// Sources for the encoders that read audio: made by sox.
constexpr const char* sources =
    "sox -n -r 44100 -c 2 -b 16 s16.wav synth 0.5 sine 220 sine 330 && "
    "sox -n -r 48000 -c 6 -b 24 s24.wav synth 0.25 sine 220 && "
    "sox -n -r 8000 -c 1 -b 8 s8.wav synth 0.3 sine 440 && "
    "sox -n -r 96000 -c 2 -b 32 s32.wav synth 0.1 sine 1000 && "
    "sox -n -r 11025 -c 1 -b 16 s11025.wav synth 0.4 sine 300 && "
    "sox -n -r 32000 -c 1 -b 16 s32000.wav synth 0.4 sine 300";

const Encoded encoded[] = {
    {"sox_u8_mono_odd.wav", AudioFormat::wav,
     "sox -n -r 8000 -c 1 -b 8 -e unsigned-integer OUT synth 0.012375 sine 440"},
    {"sox_16_stereo.wav", AudioFormat::wav, "sox -n -r 44100 -c 2 -b 16 OUT synth 0.2 sine 300"},
    {"sox_24_6ch.wav", AudioFormat::wav, "sox -n -r 48000 -c 6 -b 24 OUT synth 0.05 sine 300"},
    {"sox_32_mono.wav", AudioFormat::wav, "sox -n -r 192000 -c 1 -b 32 OUT synth 0.05 sine 300"},
    {"sox_f32_stereo.wav", AudioFormat::wav,
     "sox -n -r 44100 -c 2 -b 32 -e floating-point OUT synth 0.1 sine 300"},
    {"sox_f64_mono.wav", AudioFormat::wav,
     "sox -n -r 22050 -c 1 -b 64 -e floating-point OUT synth 0.1 sine 300"},
    {"sox_16_32ch.wav", AudioFormat::wav, "sox -n -r 44100 -c 32 -b 16 OUT synth 0.01 sine 300"},
    {"sox_16_to_pipe.wav", AudioFormat::wav,
     "sox -n -r 16000 -c 1 -b 16 -t wav - synth 0.1 sine 300 > OUT"},
    {"sox_8_mono_odd.aiff", AudioFormat::aiff,
     "sox -n -r 8000 -c 1 -b 8 OUT synth 0.012375 sine 440"},
    {"sox_16_stereo.aiff", AudioFormat::aiff, "sox -n -r 44100 -c 2 -b 16 OUT synth 0.2 sine 300"},
    {"sox_24_6ch.aiff", AudioFormat::aiff, "sox -n -r 48000 -c 6 -b 24 OUT synth 0.05 sine 300"},
    {"sox_32_mono.aiff", AudioFormat::aiff, "sox -n -r 96000 -c 1 -b 32 OUT synth 0.05 sine 300"},
    {"sox_16_stereo.aifc", AudioFormat::aiff,
     "sox -n -r 44100 -c 2 -b 16 -t aifc OUT synth 0.1 sine 300"},
    {"sox_16_stereo.flac", AudioFormat::flac, "sox -n -r 44100 -c 2 -b 16 OUT synth 0.3 sine 300"},
    {"sox_24_mono_c8.flac", AudioFormat::flac,
     "sox -n -r 96000 -c 1 -b 24 -C 8 OUT synth 0.2 sine 300"},
    {"sox_8_6ch_c0.flac", AudioFormat::flac,
     "sox -n -r 22050 -c 6 -b 8 -C 0 OUT synth 0.2 sine 300"},
    {"sox_16_to_pipe.flac", AudioFormat::flac, "sox s16.wav -t flac - > OUT"},
    {"sox_192k.mp3", AudioFormat::mp3, "sox -n -r 44100 -c 2 -C 192 OUT synth 0.3 sine 300"},
    {"sox_v5_mono.mp3", AudioFormat::mp3, "sox -n -r 22050 -c 1 -C -5 OUT synth 0.3 sine 300"},
    {"flac_0.flac", AudioFormat::flac, "flac -s -0 -o OUT s16.wav"},
    {"flac_5.flac", AudioFormat::flac, "flac -s -5 -o OUT s16.wav"},
    {"flac_8_24bit_6ch.flac", AudioFormat::flac, "flac -s -8 -o OUT s24.wav"},
    {"flac_8bit.flac", AudioFormat::flac, "flac -s -o OUT s8.wav"},
    // libsndfile, like many audio programs, reads no FLAC of more than 24 bits.
    {"flac_32bit.flac", AudioFormat::flac, "flac -s -o OUT s32.wav", "flac-bits-per-sample"},
    {"flac_11025.flac", AudioFormat::flac, "flac -s -o OUT s11025.wav"},
    {"flac_blocksize_1152.flac", AudioFormat::flac, "flac -s -b 1152 -o OUT s16.wav"},
    {"flac_blocksize_16.flac", AudioFormat::flac, "flac -s -b 16 -o OUT s8.wav"},
    {"flac_no_padding_no_seektable.flac", AudioFormat::flac,
     "flac -s --no-padding --no-seektable -o OUT s16.wav"},
    {"flac_tags.flac", AudioFormat::flac, "flac -s -T TITLE=Loop -T ARTIST=Someone -o OUT s16.wav"},
    {"flac_to_stdout.flac", AudioFormat::flac, "flac -s -c s16.wav > OUT"},
    {"flac_raw_stdin_to_stdout.flac", AudioFormat::flac,
     "sox s16.wav -t raw - | flac -s --force-raw-format --endian=little --sign=signed "
     "--channels=2 --bps=16 --sample-rate=44100 -c - > OUT"},
    {"lame_cbr128.mp3", AudioFormat::mp3, "lame --quiet -b 128 s16.wav OUT"},
    {"lame_cbr320.mp3", AudioFormat::mp3, "lame --quiet -b 320 s16.wav OUT"},
    {"lame_cbr32_mono_32000.mp3", AudioFormat::mp3, "lame --quiet -b 32 s32000.wav OUT"},
    {"lame_v0.mp3", AudioFormat::mp3, "lame --quiet -V 0 s16.wav OUT"},
    {"lame_v9_8000.mp3", AudioFormat::mp3, "lame --quiet -V 9 --resample 8 s16.wav OUT"},
    {"lame_abr96_22050.mp3", AudioFormat::mp3,
     "lame --quiet --abr 96 --resample 22.05 s16.wav OUT"},
    {"lame_11025.mp3", AudioFormat::mp3, "lame --quiet s11025.wav OUT"},
    {"lame_id3v2.mp3", AudioFormat::mp3,
     "lame --quiet --add-id3v2 --tt Loop --ta Someone --tc 'a comment' s16.wav OUT"},
    {"lame_id3v1.mp3", AudioFormat::mp3, "lame --quiet --id3v1-only --tt Loop s16.wav OUT"},
    {"lame_no_xing.mp3", AudioFormat::mp3, "lame --quiet -t s16.wav OUT"},
    {"lame_mono_crc.mp3", AudioFormat::mp3, "lame --quiet -m m -p s16.wav OUT"},
    {"lame_iso_nores.mp3", AudioFormat::mp3,
     "lame --quiet --strictly-enforce-ISO --nores s16.wav OUT"},
};

class AudioEncoders : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        folder_ = new testing::TemporaryDirectory();
        ASSERT_EQ(run(folder_->path(), std::string("(") + sources + ") 2>/dev/null"), 0);
    }
    static void TearDownTestSuite() {
        delete folder_;
        folder_ = nullptr;
    }

    // The file the encoder writes, made afresh; what the encoder printed is shown when it fails.
    static ByteBuffer encode(const Encoded& file) {
        std::string command = std::string("rm -f OUT && (") + file.command + ") 2>encoder.log";
        for (std::size_t at; (at = command.find("OUT")) != std::string::npos;) {
            command.replace(at, 3, file.file);
        }
        EXPECT_EQ(run(folder_->path(), command), 0)
            << command << "\n"
            << testing::readFileText(folder_->join("encoder.log"));
        return readBytes(folder_->join(file.file));
    }

    static inline testing::TemporaryDirectory* folder_ = nullptr;
};

// Every file is also cut short by two bytes (one could be an odd chunk's pad byte), which the
// check must refuse.
void expectAcceptedAndRead(AudioFormat format, const ByteBuffer& bytes) {
    const AudioVerdict verdict = AudioFile::check(format, bytes);
    EXPECT_TRUE(verdict.accepted()) << verdict.brokenRule;
    if (format != AudioFormat::mp3) {
        expectReadToTheEnd(bytes);
    }
    EXPECT_FALSE(AudioFile::check(format, ByteView(bytes).first(bytes.size() - 2)).accepted());
}

TEST_F(AudioEncoders, WhatSoxFlacAndLameWriteIsAcceptedAndLibsndfileReadsIt) {
    for (const Encoded& file : encoded) {
        SCOPED_TRACE(file.file);
        const ByteBuffer bytes = encode(file);
        ASSERT_GT(bytes.size(), 100u);
        if (file.brokenRule.empty()) {
            expectAcceptedAndRead(file.format, bytes);
        } else {
            EXPECT_EQ(AudioFile::check(file.format, bytes).brokenRule, file.brokenRule);
        }
    }
}

struct Written {
    int format;  // libsndfile's major format and encoding
    AudioFormat audio;
};

TEST_F(AudioEncoders, WhatLibsndfileWritesIsAcceptedAndReadBack) {
    const Written written[] = {
        {SF_FORMAT_WAV | SF_FORMAT_PCM_U8, AudioFormat::wav},
        {SF_FORMAT_WAV | SF_FORMAT_PCM_16, AudioFormat::wav},
        {SF_FORMAT_WAV | SF_FORMAT_PCM_24, AudioFormat::wav},
        {SF_FORMAT_WAV | SF_FORMAT_PCM_32, AudioFormat::wav},
        {SF_FORMAT_WAV | SF_FORMAT_FLOAT, AudioFormat::wav},
        {SF_FORMAT_WAV | SF_FORMAT_DOUBLE, AudioFormat::wav},
        {SF_FORMAT_WAVEX | SF_FORMAT_PCM_16, AudioFormat::wav},
        {SF_FORMAT_WAVEX | SF_FORMAT_PCM_24, AudioFormat::wav},
        {SF_FORMAT_WAVEX | SF_FORMAT_FLOAT, AudioFormat::wav},
        {SF_FORMAT_AIFF | SF_FORMAT_PCM_S8, AudioFormat::aiff},
        {SF_FORMAT_AIFF | SF_FORMAT_PCM_16, AudioFormat::aiff},
        {SF_FORMAT_AIFF | SF_FORMAT_PCM_24, AudioFormat::aiff},
        {SF_FORMAT_AIFF | SF_FORMAT_PCM_32, AudioFormat::aiff},
        {SF_FORMAT_AIFF | SF_FORMAT_FLOAT, AudioFormat::aiff},
        {SF_FORMAT_AIFF | SF_FORMAT_DOUBLE, AudioFormat::aiff},
        {SF_FORMAT_AIFF | SF_FORMAT_PCM_16 | SF_ENDIAN_LITTLE, AudioFormat::aiff},
        {SF_FORMAT_FLAC | SF_FORMAT_PCM_S8, AudioFormat::flac},
        {SF_FORMAT_FLAC | SF_FORMAT_PCM_16, AudioFormat::flac},
        {SF_FORMAT_FLAC | SF_FORMAT_PCM_24, AudioFormat::flac},
        {SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III, AudioFormat::mp3},
    };
    for (const Written& kind : written) {
        for (const int channels : {1, 2, 7}) {
            SCOPED_TRACE(::testing::Message()
                         << std::hex << kind.format << std::dec << ", " << channels << " channels");
            SF_INFO info{};
            info.samplerate = 44100;
            info.channels = channels;
            info.format = kind.format;
            if (!sf_format_check(&info)) {
                ASSERT_EQ(kind.audio, AudioFormat::mp3) << "libsndfile cannot write this";
                continue;
            }
            const std::string path = folder_->join("libsndfile_written");
            SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
            ASSERT_NE(file, nullptr) << sf_strerror(nullptr);
            // An odd number of frames, so that 8-bit mono needs a pad byte.
            std::vector<float> samples(static_cast<std::size_t>(1001 * channels));
            for (std::size_t index = 0; index < samples.size(); ++index) {
                samples[index] = 0.5f * static_cast<float>((index * 37) % 200) / 200.0f - 0.25f;
            }
            ASSERT_EQ(sf_writef_float(file, samples.data(), 1001), 1001);
            ASSERT_EQ(sf_close(file), 0);
            expectAcceptedAndRead(kind.audio, readBytes(path));
        }
    }
}

// The folder of the files the npm encoders wrote, and what the check says of each: the
// compressed encodings wavefile can convert to are refused.
TEST(AudioEncoderSamples, WhatWebPagesEncodersWriteIsAcceptedAndLibsndfileReadsIt) {
    const std::map<std::string, std::string_view> refused = {
        {"wavefile_ima_adpcm.wav", "wav-compressed"},
        {"wavefile_alaw.wav", "wav-compressed"},
        {"wavefile_mulaw.wav", "wav-compressed"},
    };
    const std::filesystem::path folder =
        std::filesystem::path(QUENRA_SOURCE_DIR) / "tests/audio_encoders/samples";
    int files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        const std::string name = entry.path().filename().string();
        SCOPED_TRACE(name);
        const auto format = AudioFile::formatNamed(entry.path().extension().string().substr(1));
        ASSERT_TRUE(format.has_value());
        const ByteBuffer bytes = readBytes(entry.path().string());
        const auto refusal = refused.find(name);
        if (refusal != refused.end()) {
            EXPECT_EQ(AudioFile::check(*format, bytes).brokenRule, refusal->second);
        } else {
            expectAcceptedAndRead(*format, bytes);
        }
        ++files;
    }
    EXPECT_EQ(files, 18);
}

// Damage to real files: a byte changed anywhere, in the first kilobyte, or the file cut at any
// length. Whatever the check still accepts, libsndfile must read to the end.
TEST_F(AudioEncoders, WhatTheCheckAcceptsOfDamagedFilesLibsndfileReadsToTheEnd) {
    const std::string_view damaged[] = {
        "sox_u8_mono_odd.wav", "sox_24_6ch.wav",     "sox_f32_stereo.wav",
        "sox_8_mono_odd.aiff", "sox_16_stereo.aifc", "sox_16_stereo.flac",
        "sox_8_6ch_c0.flac",   "flac_tags.flac",     "flac_to_stdout.flac"};
    std::mt19937 random(38);
    for (const Encoded& file : encoded) {
        if (std::find(std::begin(damaged), std::end(damaged), file.file) == std::end(damaged)) {
            continue;
        }
        SCOPED_TRACE(file.file);
        const ByteBuffer original = encode(file);
        ASSERT_GT(original.size(), 100u);
        int accepted = 0;
        for (int attempt = 0; attempt < 2000; ++attempt) {
            ByteBuffer bytes = original;
            const std::size_t span =
                attempt % 2 == 0 ? bytes.size() : std::min<std::size_t>(1024, bytes.size());
            if (attempt % 5 == 4) {
                bytes.resize(random() % bytes.size());
            } else {
                bytes[random() % span] ^= static_cast<std::uint8_t>(1u << (random() % 8));
            }
            if (AudioFile::check(file.format, bytes).accepted()) {
                ++accepted;
                SCOPED_TRACE(attempt);
                expectReadToTheEnd(bytes);
            }
        }
        // Changed samples and tags leave files that are still whole.
        EXPECT_GT(accepted, 0);
    }
}

}  // namespace
}  // namespace quenra
