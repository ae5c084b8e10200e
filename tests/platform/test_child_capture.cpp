// A child's standard output and standard error taken in apart.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <string>

#include "platform/child_capture.h"
#include "run_program.h"

namespace {

TEST(ChildCapture, OutputAndMessagesApartTheMessagesAlsoCopied)
{
    const std::string dir = FreshTestDir();
    const int copy = open((dir + "/copy").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    ASSERT_GE(copy, 0);
    platform::ChildSpec launch;
    // More than a pipe holds on both streams, so that neither may wait for
    // the other to be read.
    launch.argv = {"/bin/sh", "-c", "head -c 200000 /dev/zero | tr '\\0' o; head -c 200000 /dev/zero | tr '\\0' e >&2;"
                                  "echo last; echo oops >&2; exit 4"};
    std::string out, err;
    platform::ChildCapture capture;
    capture.out = &out;
    capture.err = &err;
    capture.errCopy = copy;
    const platform::ChildEnd end = platform::RunChildCapturing(launch, capture);
    close(copy);
    EXPECT_EQ(end.status, 4);
    EXPECT_EQ(out, std::string(200000, 'o') + "last\n");
    EXPECT_EQ(err, std::string(200000, 'e') + "oops\n");
    EXPECT_EQ(ReadFile(dir + "/copy"), err);

    // Only the messages taken; the output goes where the launch says.
    const int file = open((dir + "/out").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    launch.argv = {"/bin/sh", "-c", "echo out; echo err >&2"};
    launch.out = file;
    platform::ChildCapture messages;
    messages.err = &err;
    messages.errCopy = open("/dev/null", O_WRONLY | O_CLOEXEC);
    EXPECT_EQ(platform::RunChildCapturing(launch, messages).status, 0);
    close(file);
    close(messages.errCopy);
    EXPECT_EQ(err, "err\n");
    EXPECT_EQ(ReadFile(dir + "/out"), "out\n");
}

} // namespace
