#include "policy/RequestTarget.h"

#include <gtest/gtest.h>

namespace {

struct TargetCase
{
    const char *path;
    const char *cmd;
    const char *module;
    const char *command;
};

TEST(RequestTarget, PathForms_ModuleAndCommandAsTheControllerReadsThem)
{
    const TargetCase cases[] = {
        {"/SERVER_VERSION", "", "", "SERVER_VERSION"},
        {"/", "OPEN_SESSION", "", "OPEN_SESSION"},
        {"/mod", "CMD", "mod", "CMD"},
        {"/mod/CMD", "", "mod", "CMD"},
        {"/mod/CMD/", "", "mod", "CMD"},
        {"//mod//CMD", "", "mod", "CMD"},
        {"/mod/CMD/more/segments", "", "mod", "CMD"},
        {"/mod/CMD", "OTHER", "mod", "CMD"},
        {"/../etc/CMD", "", RequestTarget::kClimbingModuleReplacement, "etc"},
        {"/a..b/CMD", "", RequestTarget::kClimbingModuleReplacement, "CMD"},
    };
    for (const TargetCase &c : cases) {
        const RequestTarget target = RequestTarget::of(c.path, c.cmd);
        EXPECT_EQ(target.module, QByteArray(c.module)) << c.path << " cmd=" << c.cmd;
        EXPECT_EQ(target.command, QByteArray(c.command)) << c.path << " cmd=" << c.cmd;
    }
}

} // namespace
