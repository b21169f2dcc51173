#include "CadenzoPlayer/audio/PcmBuffer.hpp"

#include <gtest/gtest.h>

using namespace cadenzo;

TEST(PcmBuffer, ChannelsNeverWrittenReadAsSilenceAndCostNothing) {
    auto buffer = PcmBuffer::make({48000, 16}, 1000);
    ASSERT_TRUE(buffer);
    buffer->setFrameLength(2000);
    EXPECT_EQ(buffer->frameLength(), 1000u);
    EXPECT_EQ(buffer->bytesHeld(), 0u);

    const std::int64_t channels[] = {3, 9, 3, -1, 16};  // the invalid ones are skipped
    float* shared = buffer->writableSharedChannels(channels);
    ASSERT_NE(shared, nullptr);
    shared[10] = 0.5f;
    EXPECT_EQ(std::vector({buffer->sample(3, 10), buffer->sample(9, 10), buffer->sample(4, 10)}),
              std::vector({0.5f, 0.5f, 0.0f}));
    EXPECT_EQ(buffer->channelData(4), nullptr);
    EXPECT_EQ(buffer->bytesHeld(), 1000u * sizeof(float));
    const std::int64_t invalid[] = {-1, 16, 99};
    EXPECT_EQ(buffer->writableSharedChannels(invalid), nullptr);
}

TEST(PcmBuffer, AnOutputHasOneTo65535Channels) {
    for (const auto& [channels, valid] : {std::pair<std::int64_t, bool>{1, true}, {65535, true}, {0, false},
                                          {-2, false}, {65536, false}})
        EXPECT_EQ(isValidChannelCount(channels), valid) << channels;
}
