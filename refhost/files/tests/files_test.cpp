#include "refhost/files/files.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <thread>

namespace refhost::files {
namespace {

TEST(FilesTest, PathParts) {
  const struct {
    std::string path, dir, base;
  } cases[] = {
      {"part.ngc", ".", "part.ngc"},
      {"/part.ngc", "/", "part.ngc"},
      {"/a/b/part.ngc", "/a/b", "part.ngc"},
      {"a/part.ngc", "a", "part.ngc"},
      {"a/", "a", ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(DirName(c.path), c.dir) << c.path;
    EXPECT_EQ(BaseName(c.path), c.base) << c.path;
  }
}

// A pipe delivers in pieces and says nothing of its size beforehand: more or
// fewer bytes than expected are read whole, after what `out` already held.
TEST(FilesTest, ReadAllTakesEverythingWhateverWasExpected) {
  for (const std::size_t expected : {std::size_t{0}, std::size_t{10}, std::size_t{1} << 20}) {
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    std::string sent;
    for (int i = 0; sent.size() < 300000; ++i) sent += std::to_string(i) + "\n";
    std::thread writer([&] {
      EXPECT_TRUE(WriteAll(fds[1], sent));
      ::close(fds[1]);
    });
    std::string out = "held:";
    EXPECT_TRUE(ReadAll(fds[0], out, expected)) << expected;
    writer.join();
    ::close(fds[0]);
    EXPECT_EQ(out.size(), sent.size() + 5) << expected;
    EXPECT_TRUE(out == "held:" + sent) << expected;
  }
}

TEST(FilesTest, ReadAllReportsTheFailedRead) {
  std::string out = "held";
  errno = 0;
  EXPECT_FALSE(ReadAll(-1, out, 100));
  EXPECT_EQ(errno, EBADF);
  EXPECT_EQ(out, "held");
}

TEST(LineEndingTest, FirstBreakDecides) {
  struct Case {
    std::string text;
    std::string eol;
    bool final_break;
  } cases[] = {
      {"", "\n", true},
      {"G0 X1", "\n", false},
      {"G0 X1\nG1 X2\n", "\n", true},
      {"G0 X1\r\nG1 X2\r\n", "\r\n", true},
      {"G0 X1\r\nG1 X2", "\r\n", false},
      {"G0 X1\rG1 X2\r", "\r", true},
      {"G0 X1\nG1 X2\r\n", "\n", true},
      {"G0 X1\r", "\r", true},
  };
  for (const auto& c : cases) {
    const LineEnding e = DetectLineEnding(c.text);
    EXPECT_EQ(e.eol, c.eol) << c.text;
    EXPECT_EQ(e.final_break, c.final_break) << c.text;
  }
}

}  // namespace
}  // namespace refhost::files
