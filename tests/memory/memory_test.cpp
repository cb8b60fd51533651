// What a load and a save cost in memory, and what they do when it runs out:
// counted by the replaced heap of this program (counting_allocator.h).
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "api/requests.h"
#include "memory/counting_allocator.h"
#include "platform/errors.h"
#include "settings/key_table.h"
#include "platform/files.h"
#include "support/test_util.h"

namespace {

using testutil::ReadBytes;
using testutil::ScratchDir;
using testutil::WriteBytes;

constexpr size_t kMiB = 1024 * 1024;

// The settings section with a value of its own for every key.
std::string SettingsSection() {
  std::string out = "[MP4V Settings]\n";
  for (size_t k = 0; k < kMP4VSettingsKeyCount; ++k) {
    out += std::string(MP4VSettingsKeyTable[k].key) + " = " + std::to_string(10 + k) + "\n";
  }
  return out;
}

// A host's file of about `lines` lines: sections of a header, a comment
// and eight short entries (keys the settings also have among them), and
// the settings section at the end.
std::string HostFile(size_t lines) {
  static const char* const kKeys[] = {"width", "height", "frame_rate", "input",
                                      "preset", "bitrate", "deinterlace", "threads"};
  std::string out;
  char text[96];
  for (size_t section = 1; section * 10 <= lines; ++section) {
    std::snprintf(text, sizeof text, "[Preset %zu] #host\n# preset %zu of the host\n", section,
                  section);
    out += text;
    for (const char* key : kKeys) {
      std::snprintf(text, sizeof text, "%s = %zu # of preset %zu\n", key, 100 + section % 9000,
                    section);
      out += text;
    }
  }
  return out + SettingsSection();
}

size_t Lines(const std::string& text) {
  size_t n = 0;
  for (char c : text) n += c == '\n';
  return n;
}

// The record a load of the file gives, with the heap unlimited, into
// `record`.
MP4VSettings Loaded(const std::string& path, MP4VSettings record = MP4VSettings{}) {
  uint32_t error = 0;
  EXPECT_TRUE(MP4VConfigTransfer("load", path.c_str(), &record, &error));
  return record;
}

class MemoryTest : public testing::Test {
 protected:
  void SetUp() override {
    text_ = HostFile(100000);
    path_ = dir_.File("host.cfg");
    WriteBytes(path_, text_);
  }
  void TearDown() override { testheap::ClearBudget(); }

  ScratchDir dir_;
  std::string text_;
  std::string path_;
};

// A load and a save of a file of 100,000 lines take at most three times the
// file's bytes and 1 MiB more at their peak.
TEST_F(MemoryTest, LoadAndSavePeakWithinThreeTimesTheFile) {
  ASSERT_GE(Lines(text_), 100000u);
  const size_t allowance = 3 * text_.size() + kMiB;
  MP4VSettings record{};
  uint32_t error = 0;
  const size_t before_load = testheap::CurrentBytes();
  testheap::ResetPeak();
  ASSERT_TRUE(MP4VConfigTransfer("load", path_.c_str(), &record, &error));
  const size_t load_peak = testheap::PeakBytes() - before_load;
  const std::string settings_only = dir_.File("settings.cfg");
  WriteBytes(settings_only, SettingsSection());
  const MP4VSettings expected = Loaded(settings_only);
  EXPECT_EQ(std::memcmp(&record, &expected, sizeof record), 0) << "the settings were not loaded";
  EXPECT_LE(load_peak, allowance) << "file of " << text_.size() << " bytes";

  record.width = 4321;  // a value the file does not hold: the save writes it
  const size_t before_save = testheap::CurrentBytes();
  testheap::ResetPeak();
  ASSERT_TRUE(MP4VConfigTransfer("save", path_.c_str(), &record, &error)) << error;
  const size_t save_peak = testheap::PeakBytes() - before_save;
  EXPECT_LE(save_peak, allowance) << "file of " << text_.size() << " bytes";
  EXPECT_EQ(Loaded(path_).width, 4321);

  // Over the file as that save wrote it, every line around the settings is
  // kept as read: where saves are made as the file is read (Windows), the
  // next save holds a piece of it and the settings' lines, never the file.
  record.width = 1234;
  const size_t file_size = ReadBytes(path_).size();
  const size_t before_again = testheap::CurrentBytes();
  testheap::ResetPeak();
  ASSERT_TRUE(MP4VConfigTransfer("save", path_.c_str(), &record, &error)) << error;
  const size_t again_peak = testheap::PeakBytes() - before_again;
  EXPECT_LE(again_peak, PlatformUpdatesStream() ? kMiB / 4 : allowance)
      << "file of " << file_size << " bytes";
  EXPECT_EQ(Loaded(path_).width, 1234);
  std::printf("file %zu bytes, %zu lines: load peak %zu bytes (%.2fx), save peak %zu (%.2fx), "
              "again %zu (%.3fx)\n",
              text_.size(), Lines(text_), load_peak, double(load_peak) / text_.size(), save_peak,
              double(save_peak) / text_.size(), again_peak, double(again_peak) / file_size);
}

// A load of the file at `path` with `budget` bytes of heap: whether it read,
// and otherwise that it said memory ran out and left the record as it was;
// a load that ends binds what an unlimited one binds (`full`).
bool LoadWithin(const std::string& path, size_t budget, const MP4VSettings& marker,
                const MP4VSettings& full) {
  SCOPED_TRACE("budget " + std::to_string(budget));
  MP4VSettings record = marker;
  uint32_t error = 0;
  testheap::SetBudget(testheap::CurrentBytes() + budget);
  const bool read = MP4VConfigTransfer("load", path.c_str(), &record, &error);
  testheap::ClearBudget();
  if (read) {
    EXPECT_EQ(std::memcmp(&record, &full, sizeof record), 0);
    return true;
  }
  EXPECT_EQ(error, PlatformErrorCode(ModuleFailure::kOutOfMemory));
  EXPECT_EQ(std::memcmp(&record, &marker, sizeof record), 0) << "the record was touched";
  return false;
}

// When memory runs out, a load says so and binds nothing; a load that ends
// binds what an unlimited one binds. With the whole file read into one
// document (a file whose settings' first section lacks a key), memory can
// run out in the parse of the whole file after the read.
TEST_F(MemoryTest, LoadThatRunsOutOfMemoryFailsAndLeavesTheRecord) {
  MP4VSettings marker;
  std::memset(&marker, 0x5A, sizeof marker);
  const MP4VSettings full = Loaded(path_, marker);
  MP4VConfigSetWholeDocumentLoadForTesting(true);
  int failed_after_reading = 0;
  for (size_t budget = text_.size() / 2; budget <= 4 * text_.size(); budget += text_.size() / 4) {
    failed_after_reading +=
        !LoadWithin(path_, budget, marker, full) && budget > text_.size() + kMiB;
  }
  MP4VConfigSetWholeDocumentLoadForTesting(false);
  EXPECT_GT(failed_after_reading, 0) << "no budget let the read succeed and the parse fail";
}

// The same where the settings' first section holds every key: the file is
// read in pieces and that section alone into a document, so a budget of a
// piece and the section's bytes, far below the file's 3 MB, loads it all;
// smaller budgets fail, and a larger one never fails where a smaller one
// read.
TEST_F(MemoryTest, LoadOfTheSectionAloneThatRunsOutOfMemoryFailsAndLeavesTheRecord) {
  MP4VSettings marker;
  std::memset(&marker, 0x5A, sizeof marker);
  const MP4VSettings full = Loaded(path_, marker);
  int failed = 0, read = 0;
  for (size_t budget = 0; budget <= 128 * 1024; budget += 2048) {
    if (LoadWithin(path_, budget, marker, full)) {
      ++read;
    } else {
      EXPECT_EQ(read, 0) << "a larger budget failed where a smaller one read";
      ++failed;
    }
  }
  EXPECT_GT(failed, 0) << "no budget was too small for the load";
  EXPECT_GT(read, 0) << "no budget of 128 KiB or less let the load of a "
                     << text_.size() << "-byte file finish";
}

// When memory runs out, a save fails and the file stays as it was.
TEST_F(MemoryTest, SaveThatRunsOutOfMemoryWritesNothing) {
  MP4VSettings record = Loaded(path_);
  record.width = 4321;
  int refused = 0, written = 0;
  for (size_t budget = text_.size() / 2; budget <= 6 * text_.size(); budget += text_.size() / 2) {
    SCOPED_TRACE("budget " + std::to_string(budget));
    WriteBytes(path_, text_);
    testheap::SetBudget(testheap::CurrentBytes() + budget);
    const int32_t result = MP4VConfigSave(&record, path_.c_str());
    testheap::ClearBudget();
    if (result == MP4V_STATUS_OK) {
      ++written;
      EXPECT_EQ(Loaded(path_).width, 4321);
      continue;
    }
    ++refused;
    EXPECT_EQ(result, MP4V_STATUS_FAILED);
    EXPECT_TRUE(ReadBytes(path_) == text_) << "the file changed";
  }
  EXPECT_GT(refused, 0);
  EXPECT_GT(written, 0);
}

// A refusal of memory anywhere in a save (reading the file, building the
// text, binding the settings into it, writing) either fails the save or
// leaves the whole text in place, never part of it: each allocation of a
// save is refused in turn, alone. The file has no settings section, so
// the binding adds every line, one allocation after another. A save that
// failed returns 1 with ENOMEM and leaves the file's bytes; either way no
// temporary or partial file is left beside it.
TEST(MemoryRunsOutTest, EachRefusalFailsTheSaveWithEnomemOrWritesItWhole) {
  ScratchDir dir;
  const std::string path = dir.File("host.cfg");
  std::string text = HostFile(20);
  text.resize(text.find("[MP4V Settings]"));
  WriteBytes(path, text);
  MP4VSettings record = Loaded(path);
  record.width = 4321;
  std::string whole;
  ASSERT_EQ(MP4VConfigSaveText(text, &record, &whole), MP4VSaveTextResult::kWritten);
  int refused = 0, written = 0;
  for (size_t index = 0; written < 16 && index < 100000; ++index) {
    SCOPED_TRACE("allocation " + std::to_string(index));
    WriteBytes(path, text);
    testheap::RefuseOnly(index);
    errno = 0;
    const int32_t result = MP4VConfigSave(&record, path.c_str());
    const int reason = errno;
    const size_t refusals = testheap::Refusals();
    testheap::RefuseOnly(SIZE_MAX);
    if (refusals == 0) ++written;  // the save asked for fewer allocations
    if (result == MP4V_STATUS_OK) {
      ASSERT_TRUE(ReadBytes(path) == whole) << "part of the text was written";
    } else {
      ++refused;
      EXPECT_EQ(result, MP4V_STATUS_FAILED);
      EXPECT_EQ(reason, ENOMEM);
      ASSERT_TRUE(ReadBytes(path) == text) << "the file changed";
    }
    const std::vector<std::string> names = testutil::ListDir(dir.path());
    ASSERT_EQ(names.size(), 1u) << "a file was left beside it: " << names.back() << "; result "
                                << result << ", errno " << reason;
  }
  EXPECT_GT(refused, 0);
  EXPECT_EQ(written, 16) << "the save asked for more allocations than tried";
}

}  // namespace
