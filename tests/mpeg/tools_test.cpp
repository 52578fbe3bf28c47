// vesperon-decode and vesperon-cipher as a user runs them.

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "tests/support/audio_compare.h"
#include "tests/support/encoded_tone.h"
#include "tests/support/process.h"
#include "tests/support/vectors.h"

using namespace vesperon::test;

namespace {

const std::string kDecode = std::string(VESPERON_BINARY_DIR) + "/tools/vesperon-decode";
const std::string kCipher = std::string(VESPERON_BINARY_DIR) + "/tools/vesperon-cipher";
const std::string kPlay = std::string(VESPERON_BINARY_DIR) + "/tools/vesperon-play";

int countLines(const std::string& s) {
    int n = 0;
    for (char c : s) n += c == '\n';
    return n;
}

class DecodeTool : public EncodedFilesSuite<DecodeTool> {
public:
    static std::string make(TempDir& dir) {
        if (!haveProgram("sox") || !haveProgram("twolame")) return "sox and twolame are needed";
        // Four seconds, so that a start at 50 % leaves a clear half.
        EXPECT_NE(encodedTone({4, 48000, 2, {"sine", "440", "sine", "660"}},
                              {"twolame", "--quiet", "-b", "192"}, dir.file("tone.mp2")),
                  "");
        return "";
    }
};

}  // namespace

TEST_F(DecodeTool, WavRawAndStandardOutputAgree) {
    CommandResult wav = runCommand({kDecode, file("tone.mp2"), file("out.wav")});
    ASSERT_EQ(wav.exitCode, 0) << wav.err;
    for (const char* line : {"layer: II\n", "version: MPEG-1\n", "rate: 48000\n", "channels: 2\n",
                             "frames: ", "decoded: ", "resynchronised: 0\n", "silenced: "}) {
        EXPECT_NE(wav.err.find(line), std::string::npos) << line << " in\n" << wav.err;
    }
    CommandResult raw = runCommand({kDecode, "--raw", file("tone.mp2"), file("out.raw")});
    ASSERT_EQ(raw.exitCode, 0) << raw.err;
    CommandResult piped = runCommand({kDecode, "--raw", file("tone.mp2"), "-"});
    ASSERT_EQ(piped.exitCode, 0) << piped.err;

    const std::string r = readFile(file("out.raw"));
    ASSERT_GT(r.size(), 100000u);
    // A 44-byte header with its sizes filled in, then the PCM of --raw.
    const std::optional<Wav> w = readWav(file("out.wav"));
    ASSERT_TRUE(w && w->finalised);
    EXPECT_EQ(readFile(file("out.wav")).size(), r.size() + 44);
    EXPECT_EQ(w->rate, 48000);
    EXPECT_EQ(w->channels, 2);
    EXPECT_EQ(w->bits, 16);
    EXPECT_TRUE(w->data == r) << w->data.size() << " vs " << r.size();
    EXPECT_EQ(piped.out, r);
    // Every whole frame of 1152 stereo samples: twolame writes no tag, so nothing is trimmed.
    EXPECT_EQ(r.size() % (1152 * 4), 0u);
    // A WAV on standard output still has a usable header.
    CommandResult wavPiped = runCommand({kDecode, file("tone.mp2"), "-"});
    ASSERT_EQ(wavPiped.exitCode, 0);
    EXPECT_EQ(wavPiped.out.substr(44), r);

    // The content is the tone: the peer decoder hears the same thing.
    if (haveProgram("mpg123")) {
        CommandResult peer = runCommand({"mpg123", "-q", "-s", file("tone.mp2")});
        ASSERT_EQ(peer.exitCode, 0);
        std::vector<int16_t> ours(r.size() / 2), theirs(peer.out.size() / 2);
        std::memcpy(ours.data(), r.data(), ours.size() * 2);
        std::memcpy(theirs.data(), peer.out.data(), theirs.size() * 2);
        long lag = 0;
        EXPECT_GT(bestCorrelation(ours, theirs, 2, 2000, &lag), 0.99);
    }
}

TEST_F(DecodeTool, StartPercentSkipsAhead) {
    CommandResult full = runCommand({kDecode, "--raw", file("tone.mp2"), file("full.raw")});
    CommandResult half = runCommand({kDecode, "--raw", "--start", "50", file("tone.mp2"), file("half.raw")});
    ASSERT_EQ(full.exitCode, 0);
    ASSERT_EQ(half.exitCode, 0) << half.err;
    const double ratio = static_cast<double>(readFile(file("half.raw")).size()) /
                         static_cast<double>(readFile(file("full.raw")).size());
    EXPECT_NEAR(ratio, 0.5, 0.05);
    CommandResult end = runCommand({kDecode, "--raw", "--start", "100", file("tone.mp2"), file("end.raw")});
    EXPECT_EQ(end.exitCode, 0);
    EXPECT_EQ(readFile(file("end.raw")).size(), 0u);
}

TEST_F(DecodeTool, PasswordPlayRoundTrip) {
    ASSERT_EQ(runCommand({kCipher, "--password", "sesame", file("tone.mp2"), file("tone.enc")}).exitCode, 0);
    const std::string plain = readFile(file("tone.mp2"));
    const std::string enc = readFile(file("tone.enc"));
    ASSERT_EQ(enc.size(), plain.size());
    EXPECT_NE(enc, plain);
    // Enciphering twice is the identity.
    ASSERT_EQ(runCommand({kCipher, "--password", "sesame", file("tone.enc"), file("tone.dec")}).exitCode, 0);
    EXPECT_EQ(readFile(file("tone.dec")), plain);

    ASSERT_EQ(runCommand({kDecode, "--raw", file("tone.mp2"), file("plain.raw")}).exitCode, 0);
    CommandResult withPassword =
        runCommand({kDecode, "--raw", "--password", "sesame", file("tone.enc"), file("enc.raw")});
    ASSERT_EQ(withPassword.exitCode, 0) << withPassword.err;
    EXPECT_EQ(readFile(file("enc.raw")), readFile(file("plain.raw")));
    // Without it, or with the wrong one, there is no stream.
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{kDecode, "--raw", file("tone.enc"), file("x.raw")},
          std::vector<std::string>{kDecode, "--raw", "--password", "Sesame", file("tone.enc"),
                                   file("x.raw")}}) {
        CommandResult r = runCommand(args);
        EXPECT_NE(r.exitCode, 0);
        EXPECT_NE(r.err.find("no MPEG audio Layer II/III stream found"), std::string::npos) << r.err;
    }
}

TEST_F(DecodeTool, FailuresAreOneLineAndNonZero) {
    CommandResult missing = runCommand({kDecode, file("nothing.mp3"), file("x.wav")});
    EXPECT_NE(missing.exitCode, 0);
    EXPECT_EQ(countLines(missing.err), 1) << missing.err;
    EXPECT_NE(missing.err.find("file not found"), std::string::npos);

    CommandResult layer1 = runCommand({kDecode, vectorPath("l1-fl1.bit"), file("x.wav")});
    EXPECT_NE(layer1.exitCode, 0);
    EXPECT_EQ(countLines(layer1.err), 1) << layer1.err;
    EXPECT_NE(layer1.err.find("no MPEG audio Layer II/III stream found"), std::string::npos);

    writeFile(file("empty.mp3"), "");
    CommandResult empty = runCommand({kDecode, file("empty.mp3"), file("x.wav")});
    EXPECT_NE(empty.exitCode, 0);
    EXPECT_EQ(countLines(empty.err), 1) << empty.err;

    CommandResult unwritable = runCommand({kDecode, file("tone.mp2"), file("no/such/dir/x.wav")});
    EXPECT_NE(unwritable.exitCode, 0);
    EXPECT_NE(runCommand({kDecode, "--bogus", file("tone.mp2"), file("x.wav")}).exitCode, 0);
    EXPECT_NE(runCommand({kCipher, file("tone.mp2"), file("x")}).exitCode, 0);  // no password

    // Both tools refuse the passwords the player refuses, 512 bytes or more, and take shorter ones.
    const std::string longest(511, 'p'), tooLong(512, 'p');
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{kCipher, "--password", tooLong, file("tone.mp2"), file("x")},
          std::vector<std::string>{kDecode, "--password", tooLong, file("tone.mp2"), file("x.wav")}}) {
        CommandResult r = runCommand(args);
        EXPECT_NE(r.exitCode, 0);
        EXPECT_EQ(countLines(r.err), 1) << r.err;
        EXPECT_NE(r.err.find("password is too long"), std::string::npos) << r.err;
    }
    ASSERT_EQ(runCommand({kCipher, "--password", longest, file("tone.mp2"), file("long.enc")}).exitCode, 0);
    EXPECT_EQ(runCommand({kDecode, "--raw", "--password", longest, file("long.enc"), file("long.raw")}).exitCode,
              0);
}

// The tool is the player's decoding path over a file: it must write exactly what the player
// hands to its output, also when the play starts part-way or is enciphered.
TEST_F(DecodeTool, OutputEqualsThePlayers) {
    if (::access(kPlay.c_str(), X_OK) != 0) GTEST_SKIP() << "vesperon-play is not built";
    ASSERT_EQ(runCommand({kCipher, "--password", "pw", file("tone.mp2"), file("tone.pw")}).exitCode, 0);
    const std::string vectors = vectorsDir();
    struct Case {
        std::string in;
        std::vector<std::string> options;
    } cases[] = {
        {vectors + "/l3-si.bit", {}},
        {vectors + "/l3-compl.bit", {"--start", "40"}},
        {vectors + "/M2L3_bitrate_24_all.bit", {}},
        {file("tone.pw"), {"--password", "pw", "--start", "25"}},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.in);
        const std::string wav = file("played" + std::to_string(n++) + ".wav");
        std::vector<std::string> play{"env", "VESPERON_AUDIO_OUTPUT=wav:" + wav, kPlay};
        play.insert(play.end(), c.options.begin(), c.options.end());
        play.push_back(c.in);
        ASSERT_EQ(runCommand(play, 120).exitCode, 0);
        std::vector<std::string> decode{kDecode, "--raw"};
        decode.insert(decode.end(), c.options.begin(), c.options.end());
        decode.push_back(c.in);
        decode.push_back("-");
        CommandResult ours = runCommand(decode);
        ASSERT_EQ(ours.exitCode, 0) << ours.err;
        const std::vector<int16_t> played = readWav16(wav);
        ASSERT_GT(played.size(), 1000u);
        ASSERT_EQ(played.size() * 2, ours.out.size());
        EXPECT_EQ(0, std::memcmp(played.data(), ours.out.data(), ours.out.size()));
    }
}

TEST_F(DecodeTool, BenchReportsSpeed) {
    std::vector<std::string> args{kDecode, "--bench", "--repeat", "2", file("tone.mp2")};
    const bool peer = haveProgram("mpg123");
    if (peer) args.insert(args.begin() + 1, "--peer");
    CommandResult r = runCommand(args);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.err.find("x real time"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("2 run(s)"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("s CPU"), std::string::npos) << r.err;
    if (peer) {
        EXPECT_NE(r.err.find("of the peer's speed"), std::string::npos) << r.err;
    }
}

namespace {

// Tiny files holding one good frame behind or before tags, with the frame's PCM size.
class OneFrameFile : public testing::TestWithParam<const char*> {};

}  // namespace

TEST_P(OneFrameFile, PlaysItsFrame) {
    const std::string in = vectorPath(std::string(GetParam()) + ".bit");
    CommandResult r = runCommand({kDecode, "--raw", in, "-"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.err.find("decoded: 1\n"), std::string::npos) << r.err;
    EXPECT_EQ(r.out.size(), 1152u * 2);  // mono
}

INSTANTIATE_TEST_SUITE_P(Vectors, OneFrameFile,
                         testing::Values("l3-nonstandard-id3v1", "l3-nonstandard-id3v2", "l3-nonstandard-apetag",
                                         "l3-nonstandard-id3v1-apetag"));

namespace {

// lame files from one tone of a known, odd length: with the LAME tag, without any tag, and
// behind 1 MB of ID3v2.3 tag (cover art).
class LameFiles : public EncodedFilesSuite<LameFiles> {
public:
    static std::string make(TempDir& dir) {
        if (!haveProgram("sox") || !haveProgram("lame")) return "sox and lame are needed";
        const ToneRecipe tone{2.0076, 44100, 2, {"sine", "440", "sine", "550"}};
        EXPECT_NE(encodedTone(tone, kLame128, dir.file("cbr.mp3")), "");
        EXPECT_NE(encodedTone(tone, {"lame", "--quiet", "-t", "-b", "128"}, dir.file("bare.mp3")), "");
        EXPECT_NE(toneWav(tone), "");
        writeFile(dir.file("tone.wav"), readFile(toneWav(tone)));
        std::string tag("ID3\x03\x00\x00", 6), body(1 << 20, '\0');
        const std::size_t n = body.size();
        for (int shift : {21, 14, 7, 0}) tag += static_cast<char>((n >> shift) & 0x7F);
        writeFile(dir.file("cover.mp3"), tag + body + readFile(dir.file("cbr.mp3")));
        return "";
    }
    static std::string decode(const std::string& name, int start = 0) {
        std::vector<std::string> argv{kDecode, "--raw"};
        if (start) argv.insert(argv.end(), {"--start", std::to_string(start)});
        argv.insert(argv.end(), {file(name), "-"});
        CommandResult r = runCommand(argv);
        EXPECT_EQ(r.exitCode, 0) << r.err;
        return r.out;
    }
    static std::vector<int16_t> samples(const std::string& raw) {
        std::vector<int16_t> v(raw.size() / 2);
        std::memcpy(v.data(), raw.data(), v.size() * 2);
        return v;
    }
};

}  // namespace

TEST_F(LameFiles, TheLameTagTrimsToTheSourceSamples) {
    const std::string cbr = decode("cbr.mp3");
    const std::vector<int16_t> source = readWav16(file("tone.wav"));
    ASSERT_GT(source.size(), 2u * 88200);
    EXPECT_EQ(cbr.size(), source.size() * 2);
    // In step with the source: the encoder's delay is gone, not just counted.
    long lag = 99;
    EXPECT_GT(bestCorrelation(samples(cbr), source, 2, 2000, &lag), 0.99);
    EXPECT_EQ(lag, 0);
    if (haveProgram("mpg123")) {
        CommandResult peer = runCommand({"mpg123", "-q", "-s", file("cbr.mp3")});
        ASSERT_EQ(peer.exitCode, 0);
        EXPECT_NEAR(static_cast<double>(cbr.size()) / 4, static_cast<double>(peer.out.size()) / 4, 600);
    }
    // Without the tag every whole frame plays, delay and padding included.
    const std::string bare = decode("bare.mp3");
    EXPECT_EQ(bare.size() % (1152 * 4), 0u);
    EXPECT_GT(bare.size(), cbr.size() + 529 * 4);
}

TEST_F(LameFiles, SeeksKeepTheTrimAndSkipTheId3Tag) {
    const std::string full = decode("cbr.mp3");
    // The tag is not audio: the same samples, and a start at 50 % lands where it does without it.
    EXPECT_EQ(decode("cover.mp3"), full);
    const std::string half = decode("cbr.mp3", 50), coverHalf = decode("cover.mp3", 50);
    EXPECT_NEAR(static_cast<double>(half.size()) / static_cast<double>(full.size()), 0.5, 0.03);
    EXPECT_NEAR(static_cast<double>(coverHalf.size()) / static_cast<double>(half.size()), 1.0, 0.03);
    // The end is trimmed after a seek as well: the last samples are the full decode's.
    const std::size_t tail = 8 * 1152 * 4;
    ASSERT_GT(half.size(), tail);
    EXPECT_TRUE(half.compare(half.size() - tail, tail, full, full.size() - tail, tail) == 0);
}
