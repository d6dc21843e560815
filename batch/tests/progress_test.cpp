// The progress bar: drawn on a terminal only, redrawn only when it moves,
// wiped before other text.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "batch/progress.h"

namespace batch {
namespace {

std::string Contents(std::FILE* f) {
  std::rewind(f);
  std::string text(4096, '\0');
  text.resize(std::fread(text.data(), 1, text.size(), f));
  return text;
}

TEST(BatchProgressTest, DrawsOnChangeAndWipesItself) {
  std::FILE* f = std::tmpfile();
  EXPECT_FALSE(ProgressBar::Wanted(f, 10'000'000));  // not a terminal
  {
    ProgressBar bar(f, "p.ngc");
    bar.Show(0, 1000);
    bar.Show(4, 1000);  // still 0 %
    bar.Show(500, 1000);
    bar.Show(2000, 1000);  // never past 100 %
  }
  EXPECT_EQ(Contents(f), "\rp.ngc [                              ]   0%"
                         "\rp.ngc [===============               ]  50%"
                         "\rp.ngc [==============================] 100%"
                         "\r\033[K");
  std::fclose(f);
}

}  // namespace
}  // namespace batch
