// What mp4vcfg's commands that judge a save cost in memory on a large file:
// counted by the replaced heap of this program (counting_allocator.h), the
// module loaded into it as the tool loads it.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "api/requests.h"
#include "memory/counting_allocator.h"
#include "mp4vcfg/check.h"
#include "mp4vcfg/commands.h"
#include "mp4vcfg/output.h"
#include "support/patch_util.h"
#include "support/test_util.h"

namespace {

using testutil::ReadBytes;
using testutil::ScratchDir;
using testutil::WriteBytes;

constexpr size_t kMiB = 1024 * 1024;

// A host's file of about `lines` lines, shaped as the one of the module's
// own memory test: sections of a header and eight short entries with
// comments (keys the settings also have among them), and the settings
// section, with a value a save rewrites, in the middle.
std::string HostFile(size_t lines) {
  std::string out;
  char text[96];
  for (size_t section = 1; section * 9 <= lines; ++section) {
    if (section == lines / 18) out += "[MP4V Settings]\nwidth = 720\nframe_rate = 29.97\n";
    std::snprintf(text, sizeof text, "[Preset %zu] #host\n", section);
    out += text;
    for (const char* key : {"width", "height", "bitrate", "input", "preset", "threads",
                            "deinterlace", "frame_rate"}) {
      std::snprintf(text, sizeof text, "%s = %zu # of preset %zu\n", key, 100 + section % 9000,
                    section);
      out += text;
    }
  }
  return out;
}

class CommandMemoryTest : public testing::Test {
 protected:
  void SetUp() override {
    path_ = dir_.File("host.cfg");
    WriteBytes(path_, HostFile(100000));
    size_ = ReadBytes(path_).size();
    // The module is loaded once for the process, before anything is counted.
    WriteBytes(dir_.File("small.cfg"), "[MP4V Settings]\nwidth = 1\n");
    std::ostringstream out, err;
    ASSERT_EQ(mp4vcfg::Set("", dir_.File("small.cfg"), {"width=2"}, false, false, out, err),
              mp4vcfg::kExitSuccess)
        << err.str();
  }

  // The peak of the heap while `command` runs, above where it began.
  template <typename Command>
  size_t Peak(const Command& command) {
    const size_t before = testheap::CurrentBytes();
    testheap::ResetPeak();
    command();
    return testheap::PeakBytes() - before;
  }

  ScratchDir dir_;
  std::string path_;
  size_t size_ = 0;
};

// Judging a save, as check and set do, and the set that saves, each take at
// most three times the file's bytes and 1 MiB more at their peak, the bytes
// they read included.
TEST_F(CommandMemoryTest, JudgingAndSavingPeakWithinThreeTimesTheFile) {
  const size_t allowance = 3 * size_ + kMiB;
  struct Run {
    const char* what;
    std::vector<std::string> arguments;  // set's; none: check
    bool json_or_dry_run;
    int status;
  } runs[] = {
      {"check", {}, false, mp4vcfg::kExitSuccess},
      {"check --json", {}, true, mp4vcfg::kExitSuccess},
      {"set --dry-run", {"height=480"}, true, mp4vcfg::kExitSuccess},
      {"set", {"width=640", "height=480"}, false, mp4vcfg::kExitSuccess},
  };
  const std::string before = ReadBytes(path_);
  for (const Run& run : runs) {
    // What the command prints goes to a file, as a program's output does,
    // not into this process's heap.
    std::ofstream out(dir_.File("out.txt"), std::ios::binary);
    std::ostringstream err;
    int status = -1;
    const size_t peak = Peak([&] {
      status = run.arguments.empty()
                   ? mp4vcfg::Check(path_, run.json_or_dry_run, out)
                   : mp4vcfg::Set("", path_, run.arguments, run.json_or_dry_run, false, out, err);
    });
    out.close();
    EXPECT_EQ(status, run.status) << run.what << ": " << err.str();
    if (std::string(run.what) == "set --dry-run") {
      // The dry run printed the diff to what the save writes.
      std::string after;
      MP4VSettings record{};
      MP4VConfigLoadText(before, &record);
      record.height = 480;
      ASSERT_EQ(MP4VConfigSaveText(before, &record, &after), MP4VSaveTextResult::kWritten);
      EXPECT_EQ(testutil::ApplyUnifiedDiff(before, ReadBytes(dir_.File("out.txt"))), after);
    }
    EXPECT_LE(peak, allowance) << run.what << " on a file of " << size_ << " bytes";
    std::printf("%-14s file %zu bytes: peak %zu bytes (%.2fx)\n", run.what, size_, peak,
                double(peak) / size_);
  }
  // What the commands said and did: the dry run shows the one line it
  // changes, and the set saved.
  MP4VSettings saved{};
  MP4VConfigLoadText(ReadBytes(path_), &saved);
  EXPECT_EQ(saved.width, 640);
  EXPECT_EQ(saved.height, 480);
}

// The account handed on line by line holds, beyond the bytes read, the
// document and a piece of the written text: well under twice the file,
// however many lines the sink sees.
TEST_F(CommandMemoryTest, TheAccountLineByLineHoldsNoRecordPerLine) {
  const std::string bytes = ReadBytes(path_);
  MP4VSettings record{};
  MP4VConfigLoadText(bytes, &record);
  record.width = 1234;
  size_t lines = 0, rewritten = 0;
  MP4VSaveAccount account;
  MP4VSaveTextResult result = MP4VSaveTextResult::kOutOfMemory;
  const size_t peak = Peak([&] {
    result = MP4VConfigAccountSaveText(
        bytes, &record,
        [&](const MP4VSavedLine& line) {
          ++lines;
          rewritten += line.kind == MP4VSavedLineKind::kSettingRewritten;
        },
        &account);
  });
  ASSERT_EQ(result, MP4VSaveTextResult::kWritten);
  EXPECT_GE(lines, 99000u);
  EXPECT_EQ(rewritten, 2u);  // width, and frame_rate written with ten digits
  EXPECT_LE(peak, 2 * bytes.size() + kMiB) << "file of " << bytes.size() << " bytes";
  std::printf("account line by line: peak %zu bytes beyond the file's %zu (%.2fx)\n", peak,
              bytes.size(), double(peak) / bytes.size());
  const std::vector<mp4vcfg::Finding> findings = mp4vcfg::CheckSave(bytes, record);
  ASSERT_EQ(findings.size(), 1u);  // the frame rate's new spelling; width as asked
  EXPECT_FALSE(findings[0].loses_text);
}

}  // namespace
