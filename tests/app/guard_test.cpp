// Judging the process list of the single-instance guard (no shell commands run here).
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "app/guard.h"

namespace {

using app::GuardVerdict;
using app::judge_process_list;

const char *verdict_name(GuardVerdict v) {
  switch (v) {
    case GuardVerdict::kNone: return "none";
    case GuardVerdict::kSingle: return "single";
    case GuardVerdict::kMultiple: return "multiple";
  }
  return "?";
}

TEST(JudgeProcessList, CountsOccurrencesOfTheName) {
  const struct {
    const char *what;
    const char *list;
    GuardVerdict expected;
  } cases[] = {
      {"only the current process", "  1 ?  00:00:01 init\n 812 pts/0 00:00:00 kelvinlog\n",
       GuardVerdict::kSingle},
      {"two copies", " 700 ? 00:00:03 kelvinlog\n 812 pts/0 00:00:00 kelvinlog\n",
       GuardVerdict::kMultiple},
      {"rrd before the current process does not count",
       " 600 ? 00:00:01 kelvinlog-rrd\n 812 pts/0 00:00:00 kelvinlog\n", GuardVerdict::kSingle},
      {"rrd after the current process drops it: what follows is searched",
       " 600 ? kelvinlog\n 700 ? kelvinlog-rrd\n 812 ? kelvinlog\n", GuardVerdict::kSingle},
      {"rrd after the current process, nothing behind it",
       " 600 ? kelvinlog\n 700 ? kelvinlog-rrd\n 812 ? bash\n", GuardVerdict::kNone},
      {"only the first rrd is skipped",
       " 1 kelvinlog-rrd\n 2 kelvinlog\n 3 kelvinlog-rrd\n", GuardVerdict::kMultiple},
      {"kelvinlog-pi counts", " 700 ? kelvinlog-pi\n 812 ? kelvinlog\n", GuardVerdict::kMultiple},
      {"one entry holding the name twice", " 812 ? kelvinlog /dev/ttyUSB0 /srv/kelvinlog/ -d\n",
       GuardVerdict::kMultiple},
      {"rrd alone", " 600 ? kelvinlog-rrd\n", GuardVerdict::kNone},
      {"no occurrence", "  1 ? init\n 2 ? bash\n", GuardVerdict::kNone},
      {"empty list", "", GuardVerdict::kNone},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<char> text(c.list, c.list + std::strlen(c.list) + 1);
    EXPECT_STREQ(verdict_name(judge_process_list(text.data())), verdict_name(c.expected));
  }
}

TEST(JudgeProcessList, SkippedFrontIsMovedOutInPlace) {
  std::string list = " 1 kelvinlog-rrd\n 2 kelvinlog\n 3 sh\n";
  std::vector<char> text(list.begin(), list.end());
  text.push_back('\0');
  EXPECT_EQ(judge_process_list(text.data()), GuardVerdict::kSingle);
  EXPECT_STREQ(text.data(), "\n 3 sh\n");
}

}  // namespace
