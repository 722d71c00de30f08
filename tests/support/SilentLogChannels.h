#pragma once

#include "logging/LogChannels.h"

#include <gtest/gtest.h>
#include <initializer_list>
#include <spdlog/sinks/null_sink.h>
#include <vector>

// Channels that write nowhere for the whole test program, yet format every line down to trace,
// so a statement that breaks on its values still fails the test. Register one per program:
//   const auto *const g_pSilent = ::testing::AddGlobalTestEnvironment(new
//   SilentLogChannels({&serverLogChannel}));
class SilentLogChannels : public ::testing::Environment
{
public:
    using Channel = LogChannel &(*)();
    explicit SilentLogChannels(std::initializer_list<Channel> channels) : m_oChannels(channels) {}
    void SetUp() override
    {
        for (const Channel channel : m_oChannels)
            channel().initializeWithSinks(int(LogLevel::Trace), 1000000, QString(),
                                          {std::make_shared<spdlog::sinks::null_sink_mt>()});
    }

private:
    std::vector<Channel> m_oChannels;
};
