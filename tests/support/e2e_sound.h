#pragma once
// The engine's e2e tests against a real sound server: each test gets its own PulseAudio with a
// null sink, which the engine reaches through the output e2eAudioOutput() names.

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "engine/output/output_keeper.h"
#include "tests/support/process.h"
#include "tests/support/servers.h"

namespace vesperon::test {

class SoundServerTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!haveProgram("pulseaudio") || !haveProgram("parec")) GTEST_SKIP() << "pulseaudio/parec missing";
        server_ = std::make_unique<PulseServer>();
        ASSERT_TRUE(server_->ok()) << "pulseaudio did not start";
        setenv("VESPERON_AUDIO_OUTPUT", e2eAudioOutput().c_str(), 1);
        std::printf("output: %s\n", e2eAudioOutput().c_str());
    }
    void TearDown() override {
        // The device kept after a play belongs to this test's server.
        engine::OutputKeeper::instance().closeNow();
        unsetenv("VESPERON_AUDIO_OUTPUT");
        server_.reset();
    }

    // Raw s16 bytes as samples.
    static std::vector<int16_t> samples(const std::string& bytes) {
        std::vector<int16_t> out(bytes.size() / 2);
        std::memcpy(out.data(), bytes.data(), out.size() * 2);
        return out;
    }

    TempDir dir_;
    std::unique_ptr<PulseServer> server_;
};

}  // namespace vesperon::test
