#include "config/config_file.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "support/doc_util.h"
#include "support/test_util.h"

#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

using testutil::Describe;
using testutil::Parse;
using namespace std::string_literals;

namespace {

std::string Serialize(const ConfigNode* doc, bool aligned) {
  std::string out;
  EXPECT_TRUE(ConfigSerialize(doc, aligned, &out));
  return out;
}

struct ReadCase {
  const char* name;
  const char* text;
  const char* nodes;
};

class ReadTest : public testing::TestWithParam<ReadCase> {};

TEST_P(ReadTest, ClassifiesAndCleansLines) {
  auto doc = Parse(GetParam().text);
  EXPECT_EQ(Describe(doc.first()), GetParam().nodes);
}

INSTANTIATE_TEST_SUITE_P(
    Lines, ReadTest,
    testing::Values(
        ReadCase{"Header", "[MP4V Settings]\n", "[MP4V Settings]"},
        ReadCase{"HeaderWithoutBracket", "[MP4V Settings\n", "[MP4V Settings]"},
        ReadCase{"HeaderKeepsSpacesAndHash", "[ a#b ]\n", "[ a#b ]"},
        ReadCase{"HeaderComment", "[S] # word\n", "[S]# word"},
        ReadCase{"HeaderTextBeforeHashDropped", "[S]junk#c\n", "[S]#c"},
        ReadCase{"HeaderHashWithNothingAfter", "[S] #\n", "[S]"},
        ReadCase{"EmptyBracketsAreAnEntry", "[]\n", "[]="},
        ReadCase{"LoneBracketIsAnEntry", "[\n", "[="},
        ReadCase{"Entry", "width = 720\n", "width=720"},
        ReadCase{"EntryComment", "width = 720 # px\n", "width=720# px"},
        ReadCase{"KeyIsFirstWord", "  two words = 5\n", "two=5"},
        ReadCase{"NoEquals", "bare word\n", "bare="},
        ReadCase{"IndentedHeaderIsAnEntry", "  [S]\n", "[S]="},
        ReadCase{"HashBeforeEquals", "key # c = 5\n", "key="},
        ReadCase{"BlankThenHash", "   # c\n", "="},
        ReadCase{"ValueKeepsEquals", "a=b=c\n", "a=b=c"},
        ReadCase{"TabsStayInValue", "a=\t5\t \n", "a=\t5\t"},
        ReadCase{"CommentRightAfterEquals", "a=#c\n", "a="},
        ReadCase{"BlankBeforeComment", "a= #c\n", "a=#c"},
        ReadCase{"EmptyValueComment", "a = # c\n", "a=# c"},
        ReadCase{"HashWithoutComment", "a=1 #\n", "a=1"},
        ReadCase{"FreeLines", "# c\n=x\n", "~# c|~=x"},
        ReadCase{"EmptyLinesDropped", "\n\n[S]\n\n\na=1\n", "[S]|a=1"},
        ReadCase{"CrLfSameAsLf", "[S]\r\na=1\r\n# x\r\n", "[S]|a=1|~# x"},
        ReadCase{"CrAlone", "[S]\ra=1\r", "[S]|a=1"},
        ReadCase{"LastLineWithoutEnd", "[S]\na=1", "[S]|a=1"},
        ReadCase{"ByteOrderMarkSkipped", "\xEF\xBB\xBF[S]\na=1\n", "[S]|a=1"},
        ReadCase{"OnlyALeadingMarkIsSkipped", "x\n\xEF\xBB\xBF[S]\n",
                 "x=|\xEF\xBB\xBF[S]="}),
    [](const testing::TestParamInfo<ReadCase>& info) { return info.param.name; });

TEST(ReadTest, NulByteEndsTheLineText) {
  const std::string text("a=1\0junk\nb=2\n", 13);
  auto doc = Parse(text);
  EXPECT_EQ(Describe(doc.first()), "a=1|b=2");
}

TEST(ReadTest, LongLinesContinueAsTheNextLineAndPartsStayWhole) {
  // 300-character parts are kept whole; a line of 600 characters is read as
  // its first 511 and then the rest.
  const std::string value(300, 'v');
  const std::string long_free = "#" + std::string(599, 'f');
  auto doc = Parse("[S]\nk=" + value + " #" + std::string(150, 'c') + "\n" +
                   long_free + "\n");
  ASSERT_FALSE(doc.empty());
  const ConfigNode* entry = doc.first()->next;
  EXPECT_EQ(std::string(entry->value()), value);
  EXPECT_EQ(std::string(entry->comment()), std::string(150, 'c'));
  const ConfigNode* first_part = entry->next;
  ASSERT_NE(first_part, nullptr);
  EXPECT_EQ(std::string(first_part->name()), long_free.substr(0, 511));
  ASSERT_NE(first_part->next, nullptr);
  EXPECT_EQ(std::string(first_part->next->name()), long_free.substr(511));
  EXPECT_EQ(first_part->next->kind, kConfigEntry);  // "fff..." is an entry
}

TEST(ReadLineTest, SplitsAt511AndKeepsTheLineEnd) {
  std::FILE* f = std::tmpfile();
  ASSERT_NE(f, nullptr);
  const std::string line(600, 'x');
  std::fputs((line + "\nz").c_str(), f);
  std::rewind(f);
  char buffer[512];
  ASSERT_EQ(ConfigReadLine(buffer, sizeof buffer, f), buffer);
  EXPECT_EQ(std::string(buffer), line.substr(0, 511));
  ASSERT_EQ(ConfigReadLine(buffer, sizeof buffer, f), buffer);
  EXPECT_EQ(std::string(buffer), std::string(89, 'x') + "\n");
  ASSERT_EQ(ConfigReadLine(buffer, sizeof buffer, f), buffer);
  EXPECT_STREQ(buffer, "z");
  EXPECT_EQ(ConfigReadLine(buffer, sizeof buffer, f), nullptr);
  char tiny[1] = {'q'};
  EXPECT_EQ(ConfigReadLine(tiny, 1, f), tiny);
  EXPECT_EQ(tiny[0], '\0');
  std::fclose(f);
}

// Every line is written as it was read, in either layout: only empty lines
// go, an empty line comes before every header, a line the reader took in
// two parts is whole again, and each line ends with a line feed.
TEST(WriteTest, ReadLinesAreWrittenAsRead) {
  const std::string long_line = "#" + std::string(599, 'f');
  const std::string text = "  # c\r\nbare\n\n[S] junk #\nk =  v  \n[T\nx=#y\r" + long_line +
                           "\n" + std::string(511, 'k') + "\n[" + std::string(600, 'h');
  const std::string expected = "  # c\nbare\n\n[S] junk #\nk =  v  \n\n[T\nx=#y\n" + long_line +
                               "\n" + std::string(511, 'k') + "\n\n[" + std::string(600, 'h') +
                               "\n";
  auto doc = Parse(text);
  EXPECT_EQ(Serialize(doc.first(), true), expected);
  EXPECT_EQ(Serialize(doc.first(), false), expected);
  // The parts of a long line stay two nodes for a load.
  EXPECT_EQ(Describe(Parse(expected).first()), Describe(doc.first()));
}

// A long line's parts are joined only while both are written as read: a
// part written in the writer's form ends its line.
TEST(WriteTest, ALongLineIsJoinedOnlyWhileItsPartsAreKept) {
  const std::string head(511, 'a');
  auto doc = Parse("[S]\n" + head + "k = 1\n");
  ASSERT_NE(doc.first()->next, nullptr);
  ASSERT_NE(doc.first()->next->next, nullptr);
  EXPECT_TRUE(doc.first()->next->continued);
  EXPECT_EQ(Serialize(doc.first(), true), "\n[S]\n" + head + "k = 1\n");
  ConfigSetEntry(doc.first(), "S", "k", "2");
  EXPECT_EQ(Serialize(doc.first(), true),
            "\n[S]\n" + head + "\nk                               = 2\n");

  // A new entry of a section whose last line goes on into the next header
  // goes before that line, which stays whole; where the line begins with
  // the section's own header, there is no such place, and it is parted.
  const std::string tail = "[T]\nx=1\n";
  auto body = Parse("[S]\na=1\n" + head + tail);
  ConfigSetEntry(body.first(), "S", "k", "2");
  ConfigSetEntry(body.first(), "S", "m", "3");
  EXPECT_EQ(Serialize(body.first(), false), "\n[S]\na=1\nk=2\nm=3\n" + head + tail);
  const std::string header = "[S]" + std::string(508, ' ');
  auto own = Parse(header + tail);
  ConfigSetEntry(own.first(), "S", "k", "2");
  EXPECT_EQ(Serialize(own.first(), false), "\n" + header + "\nk=2\n\n" + tail);
}

// Each node's span quotes what was written for it: its line as read, or
// the line of its own form; also where the text has to begin with an empty
// line (a first line beginning with the bytes of a UTF-16 mark) or with a
// byte-order mark of its own (one beginning with those bytes).
TEST(WriteTest, SpansQuoteWhatWasWrittenForEachNode) {
  const std::string rewritten = "k" + std::string(30, ' ') + " = 2";
  for (const std::string& text :
       {"[S]\nk x=1\n"s, "\n\xFF\xFE\n[S]\nk x=1\n"s, "\r\xFE\xFF x\n[S]\n"s,
        "\n\xEF\xBB\xBFk=1\n[S]\nk=1\n"s}) {
    SCOPED_TRACE(testing::PrintToString(text));
    auto doc = Parse(text);
    ConfigSetEntry(doc.first(), "S", "k", "2");
    std::string out;
    std::vector<ConfigNodeSpan> spans;
    ASSERT_TRUE(ConfigSerialize(doc.first(), true, &out, false, &spans));
    size_t i = 0;
    for (const ConfigNode* node = doc.first(); node != nullptr; node = node->next, ++i) {
      ASSERT_LT(i, spans.size());
      EXPECT_EQ(spans[i].node, node);
      EXPECT_EQ(out.substr(spans[i].offset, spans[i].size),
                node->as_read() != nullptr ? std::string(node->as_read(), node->as_read_size)
                                         : rewritten);
    }
    EXPECT_EQ(i, spans.size());
  }
}

TEST(WriteTest, AlignedAndCompactLayouts) {
  auto doc = testutil::ParseRewritten(
      "# config file\n[MP4V Settings] # top\nprofile_id=0\n"
      "a_key_that_is_longer_than_31_chars=1 # c\nempty=\n");
  EXPECT_EQ(Serialize(doc.first(), true),
            "# config file\n"
            "\n[MP4V Settings] # top\n"
            "profile_id                      = 0\n"
            "a_key_that_is_longer_than_31_chars = 1 # c\n"
            "empty                           = \n");
  EXPECT_EQ(Serialize(doc.first(), false),
            "# config file\n\n[MP4V Settings] # top\nprofile_id=0\n"
            "a_key_that_is_longer_than_31_chars=1 # c\nempty=\n");
  EXPECT_EQ(Serialize(nullptr, true), "");
}

TEST(WriteTest, AFileBeginningWithAHeaderGetsALeadingEmptyLine) {
  auto doc = Parse("[S]\nk=1\n");
  EXPECT_EQ(Serialize(doc.first(), false), "\n[S]\nk=1\n");
}

// Reading, writing and reading again must give the same document, and a
// second write the same bytes: a save never changes what a file means.
// Both for lines written as read and in the writer's own layout.
void ExpectStable(const std::string& text) {
  for (bool as_read : {true, false}) {
    auto first = as_read ? Parse(text) : testutil::ParseRewritten(text);
    const std::string once = Serialize(first.first(), true);
    auto second = as_read ? Parse(once) : testutil::ParseRewritten(once);
    EXPECT_EQ(Describe(second.first()), Describe(first.first())) << "text: " << text;
    EXPECT_EQ(Serialize(second.first(), true), once);
  }
}

TEST(WriteTest, RewritingKeepsEveryLineWhole) {
  ExpectStable("[S]\nk=" + std::string(470, 'v') + "#" + std::string(35, 'c'));
  ExpectStable("k=" + std::string(508, 'v') + "\n");
  ExpectStable("[" + std::string(510, 'n') + "\n");
  ExpectStable("[" + std::string(500, 'n') + "]#" + std::string(9, 'c') + "\n");
  ExpectStable("k= #" + std::string(506, 'c') + "\n");
  ExpectStable("[\n[]x\n");
  ExpectStable(std::string(511, 'k') + "\n[]" + std::string(508, 'k') + "\n");
  ExpectStable("   \n\t\n =5\n");
  ExpectStable("\0\n\xEF\xBB\xBF[y\n"s);
}

// Every entry, whatever the lengths of its parts, is written in lines that
// the reader takes whole; reading them back gives the same key and value,
// and the comment either on the entry or, when the entry with it would not
// fit one line, on free lines right after it; writing again changes no byte.
TEST(WriteTest, EveryEntryFitsItsLinesAndReadsBackTheSame) {
  const std::string bom = "\xEF\xBB\xBF";
  const std::vector<std::string> keys = {
      "",  "k", "[", "[k", "frame_rate", std::string(31, 'k'),
      std::string(300, 'k'), std::string(509, 'k'), "[" + std::string(508, 'k'),
      bom + std::string(508, 'k')};
  const size_t value_lengths[] = {0, 1, 13, 200, 497, 509};
  const size_t comment_lengths[] = {0, 1, 100, 497, 507, 511};
  int written = 0;
  for (const std::string& key : keys) {
    for (size_t value_length : value_lengths) {
      const std::string value(value_length, 'v');
      if (!ConfigEntryFits(key.c_str(), value.c_str())) continue;
      for (size_t comment_length : comment_lengths) {
        const std::string comment(comment_length, 'c');
        for (bool aligned : {true, false}) {
          SCOPED_TRACE("key " + std::to_string(key.size()) + ", value " +
                       std::to_string(value_length) + ", comment " +
                       std::to_string(comment_length) +
                       (aligned ? ", aligned" : ", compact"));
          testutil::Document doc(
              ConfigNewEntry(key.c_str(), value.c_str(), comment.c_str()));
          std::string once;
          ASSERT_TRUE(ConfigSerialize(doc.first(), aligned, &once));
          size_t start = once.compare(0, 3, bom) == 0 ? 3 : 0;
          for (size_t end; (end = once.find('\n', start)) != std::string::npos;
               start = end + 1) {
            EXPECT_LE(end - start, kConfigLineMax);
          }
          auto back = Parse(once);
          ASSERT_FALSE(back.empty());
          EXPECT_EQ(back.first()->kind, kConfigEntry);
          EXPECT_EQ(std::string(back.first()->name()), key);
          EXPECT_EQ(std::string(back.first()->value()), value);
          std::string moved;
          for (const ConfigNode* n = back.first()->next; n != nullptr; n = n->next) {
            ASSERT_EQ(n->kind, kConfigFreeLine);
            ASSERT_EQ(n->name()[0], '#');
            moved += n->name().substr(1);
          }
          EXPECT_EQ(std::string(back.first()->comment()) + moved, comment);
          EXPECT_TRUE(moved.empty() || back.first()->comment().empty());
          std::string twice;
          ASSERT_TRUE(ConfigSerialize(back.first(), aligned, &twice));
          EXPECT_EQ(twice, once);
          ++written;
        }
      }
    }
  }
  EXPECT_GT(written, 400);
}

// The same for section headers: a header with its comment that does not fit
// one line keeps the comment on free lines after it.
TEST(WriteTest, EveryHeaderFitsItsLinesAndReadsBackTheSame) {
  for (size_t name_length : {1, 300, 508, 509, 510}) {
    for (size_t comment_length : {0, 1, 2, 3, 200, 507, 511}) {
      SCOPED_TRACE(std::to_string(name_length) + " " + std::to_string(comment_length));
      const std::string name(name_length, 'n');
      const std::string comment(comment_length, 'c');
      testutil::Document doc(ConfigNewSection(name.c_str(), comment.c_str()));
      std::string once;
      ASSERT_TRUE(ConfigSerialize(doc.first(), true, &once));
      auto back = Parse(once);
      ASSERT_FALSE(back.empty());
      EXPECT_EQ(back.first()->kind, kConfigSection);
      EXPECT_EQ(std::string(back.first()->name()), name);
      std::string moved;
      for (const ConfigNode* n = back.first()->next; n != nullptr; n = n->next) {
        ASSERT_EQ(n->kind, kConfigFreeLine);
        moved += n->name().substr(1);
      }
      EXPECT_EQ(std::string(back.first()->comment()) + moved, comment);
      std::string twice;
      ASSERT_TRUE(ConfigSerialize(back.first(), true, &twice));
      EXPECT_EQ(twice, once);
    }
  }
}

// A first line that begins with the bytes of a byte-order mark keeps them:
// the file gets a mark of its own in front, which the reader skips.
TEST(WriteTest, AFirstKeyBeginningWithAMarkKeepsIt) {
  const std::string key = "\xEF\xBB\xBF" + std::string(508, 'k');  // 511
  for (bool file_had_mark : {false, true}) {
    testutil::Document doc(ConfigNewEntry(key.c_str(), "", ""));
    std::string once;
    ASSERT_TRUE(ConfigSerialize(doc.first(), false, &once, file_had_mark));
    EXPECT_EQ(once, "\xEF\xBB\xBF" + key + "\n");
    auto back = Parse(once);
    EXPECT_EQ(Describe(back.first()), key + "=");
  }
}

std::string RandomLine(std::mt19937& rng) {
  static const char kAlphabet[] = "[]#= \t\rab\n";
  std::uniform_int_distribution<int> length(0, 40);
  std::uniform_int_distribution<int> pick(0, sizeof kAlphabet - 2);
  std::uniform_int_distribution<int> long_line(0, 20);
  std::string line;
  int n = long_line(rng) == 0 ? 300 + length(rng) * 10 : length(rng);
  for (int i = 0; i < n; ++i) line.push_back(kAlphabet[pick(rng)]);
  return line;
}

TEST(WriteTest, RandomFilesAreStable) {
  std::mt19937 rng(7);
  for (int i = 0; i < 3000; ++i) {
    std::string text;
    for (int lines = 0; lines < 6; ++lines) text += RandomLine(rng) + "\n";
    ExpectStable(text);
  }
}

// The line patterns, evaluated by the C library's formatted input with
// buffers large enough for any line.
struct ScanResult {
  int kind = -1;  // 0 section, 1 entry, 2 free line, -1 empty
  int count = 0;
  std::string part[3];
};

ScanResult ScanWithLibrary(const char* line) {
  ScanResult r;
  char a[1024] = "", b[1024] = "", c[1024] = "";
  int n = std::sscanf(line, "[%[^]\n\r] %[^\n\r]", a, b);
  if (n >= 1) {
    r.kind = 0;
    r.count = n;
    r.part[0] = a;
    if (n >= 2) r.part[1] = b;
    return r;
  }
  a[0] = b[0] = c[0] = '\0';
  n = std::sscanf(line, "%[^#=\n\r]=%[^#\n\r] #%[^\n\r]", a, b, c);
  if (n >= 1) {
    r.kind = 1;
    r.count = n;
    r.part[0] = a;
    if (n >= 2) r.part[1] = b;
    if (n >= 3) r.part[2] = c;
    return r;
  }
  a[0] = '\0';
  n = std::sscanf(line, "%[^\n\r]", a);
  if (n >= 1) {
    r.kind = 2;
    r.count = 1;
    r.part[0] = a;
  }
  return r;
}

TEST(MatchLineTest, AgreesWithFormattedInputOnGeneratedLines) {
  std::mt19937 rng(1234);
  int compared = 0;
  for (int i = 0; i < 200000; ++i) {
    std::string line = RandomLine(rng);
    // A line as the reader delivers it ends at its first line end.
    size_t end = line.find_first_of("\n\r");
    if (end != std::string::npos) line.resize(end + 1);
    if (line.size() > 511) line.resize(511);
    const ScanResult expected = ScanWithLibrary(line.c_str());
    ConfigLineMatch match;
    ConfigMatchLine(line.c_str(), &match);
    const int kind = match.kind == ConfigLineKind::kSection   ? 0
                     : match.kind == ConfigLineKind::kEntry  ? 1
                     : match.kind == ConfigLineKind::kFreeLine ? 2
                                                               : -1;
    ASSERT_EQ(kind, expected.kind) << "line: [" << line << "]";
    ASSERT_EQ(match.parts, expected.count) << "line: [" << line << "]";
    for (int p = 0; p < match.parts; ++p) {
      ASSERT_EQ(std::string(match.part[p].data, match.part[p].size),
                expected.part[p])
          << "line: [" << line << "] part " << p;
    }
    ++compared;
  }
  EXPECT_EQ(compared, 200000);
}

// ---- Files ---------------------------------------------------------------

TEST(ReadFileTest, MissingEmptyAndBlankFilesGiveThePlaceholder) {
  testutil::ScratchDir dir;
  testutil::WriteBytes(dir.File("empty.cfg"), "");
  testutil::WriteBytes(dir.File("blank.cfg"), "\n\r\n\n");
  for (const char* name : {"missing.cfg", "empty.cfg", "blank.cfg"}) {
    FileReadStatus status;
    testutil::Document doc(ConfigReadFileEx(dir.File(name).c_str(), &status));
    EXPECT_EQ(Describe(doc.first()), "~# config file") << name;
    EXPECT_EQ(status, std::string(name) == "missing.cfg"
                          ? FileReadStatus::kMissing
                          : FileReadStatus::kRead);
  }
  FileReadStatus status;
  testutil::Document doc(ConfigReadFileEx(dir.path().c_str(), &status));
  EXPECT_EQ(status, FileReadStatus::kUnreadable);  // a directory
  EXPECT_EQ(Describe(doc.first()), "~# config file");
}

TEST(WriteFileTest, WritesThePlatformLineEndAndKeepsAByteOrderMark) {
  testutil::ScratchDir dir;
  const std::string path = dir.File("a.cfg");
  ConfigWriteFile(Parse("[S]\nk=1\n"), path.c_str(), 0);
  EXPECT_EQ(testutil::ReadBytes(path), testutil::WithLineEnds("\n[S]\nk=1\n"));

  testutil::WriteBytes(path, "\xEF\xBB\xBF[S]\r\nk=1\r\n");
  testutil::Document doc(ConfigReadFile(path.c_str()));
  ConfigSetEntry(doc.first(), "S", "k", "2");
  EXPECT_TRUE(ConfigWriteFile(std::move(doc), path.c_str(), 0));
  EXPECT_EQ(testutil::ReadBytes(path),
            "\xEF\xBB\xBF" + testutil::WithLineEnds("\n[S]\nk=2\n"));
  // Exactly one file: no temporary file is left behind.
  EXPECT_EQ(testutil::ListDir(dir.path()).size(), 1u);
}

TEST(WriteFileTest, RefusedTargetsStayAsTheyWere) {
  testutil::ScratchDir dir;
  const std::string read_only = dir.File("ro.cfg");
  testutil::WriteBytes(read_only, "old\n");
  testutil::SetReadOnly(read_only, true);
  EXPECT_FALSE(ConfigWriteFile(Parse("k=1\n"), read_only.c_str(), 1));
  testutil::SetReadOnly(read_only, false);
  EXPECT_EQ(testutil::ReadBytes(read_only), "old\n");

  const std::string missing_dir = dir.File("nope") + "/x.cfg";
  EXPECT_FALSE(ConfigWriteFile(Parse("k=1\n"), missing_dir.c_str(), 1));
  EXPECT_FALSE(testutil::Exists(dir.File("nope")));

  EXPECT_FALSE(ConfigWriteFile(Parse("k=1\n"), dir.path().c_str(), 1));
  EXPECT_EQ(testutil::ListDir(dir.path()).size(), 1u);
}

#ifndef _WIN32

TEST(WriteFileTest, KeepsPermissionsAndSymbolicLinks) {
  testutil::ScratchDir dir;
  const std::string real = dir.File("real.cfg");
  const std::string link = dir.File("link.cfg");
  testutil::WriteBytes(real, "a=1\n");
  ASSERT_EQ(chmod(real.c_str(), 0640), 0);
  ASSERT_EQ(symlink("real.cfg", link.c_str()), 0);
  EXPECT_TRUE(ConfigWriteFile(Parse("a=2\n"), link.c_str(), 0));
  struct stat st;
  ASSERT_EQ(lstat(link.c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  ASSERT_EQ(stat(real.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
  EXPECT_EQ(testutil::ReadBytes(real), "a=2\n");
}

// Runs one write in a child process whose file size limit is `limit` bytes,
// so the write fails after that many bytes; returns the writer's result.
bool WriteWithSizeLimit(const std::string& path, const std::string& text,
                        size_t limit) {
  return testutil::RunWithFileSizeLimit(limit, [&] {
    return ConfigWriteFile(Parse(text), path.c_str(), 1);
  });
}

TEST(WriteFileTest, AWriteFailingAtAnyByteLeavesTheTargetIntact) {
  testutil::ScratchDir dir;
  const std::string path = dir.File("t.cfg");
  const std::string old_bytes = "[S]\nold=1\n# keep me\n";
  const std::string new_text =
      "# new\n[S]\nalpha=1\nbeta=22 # c\n[T]\ngamma=" + std::string(40, 'g');
  auto doc = Parse(new_text);
  const size_t full = Serialize(doc.first(), true).size();
  for (size_t limit = 0; limit < full; ++limit) {
    testutil::WriteBytes(path, old_bytes);
    EXPECT_FALSE(WriteWithSizeLimit(path, new_text, limit)) << limit;
    EXPECT_EQ(testutil::ReadBytes(path), old_bytes) << limit;
    EXPECT_EQ(testutil::ListDir(dir.path()).size(), 1u) << limit;
  }
  EXPECT_TRUE(WriteWithSizeLimit(path, new_text, full));
  EXPECT_EQ(testutil::ReadBytes(path), Serialize(doc.first(), true));
}

#endif

}  // namespace

// A line led by a zero byte is kept for its bytes alone: as when the reader
// dropped it, it holds no key, not even the empty one.
TEST(ReadTest, ALineLedByAZeroByteHoldsNoKey) {
  using namespace std::string_literals;
  auto doc = Parse("[S]\n\0x\n"s);
  ASSERT_FALSE(doc.empty());
  EXPECT_EQ(ConfigLookup(doc.first(), "S", "").data(), nullptr);
  ASSERT_NE(ConfigSetEntry(doc.first(), "S", "", "v"), nullptr);  // a new entry
  std::string text;
  ASSERT_TRUE(ConfigSerialize(doc.first(), false, &text));
  EXPECT_EQ(text, "\n[S]\n\0x\n =v\n"s);
}

// Where the body of a section stands in a text: from its first header's
// line to the next header's line, case folded, past a byte-order mark; no
// body where the header, or the next one, goes on from a line cut short,
// and none without the header.
TEST(SectionBodyTest, FromItsFirstHeaderToTheNextHeader) {
  const std::string cut(kConfigLineMax, 'a');
  struct Case {
    std::string text;
    bool found;
    size_t begin, end;
  } cases[] = {
      {"", false, 0, 0},
      {"k=1\n[Other]\nk=2\n", false, 0, 0},
      {"[S]\nk=1\n", true, 0, 8},
      {"k=0\r\n[s]\r\nk=1\r\n[T]\r\nk=2", true, 5, 15},
      {"\xEF\xBB\xBF[S]\nk=1\n[T]", true, 3, 11},
      {"[S\nk=1\n[S]x\n[S]\n", true, 0, 7},            // "[S" is a header of "S"
      {"[]\n[S]\n[]x\nk\n", true, 3, 13},              // "[]" heads no section
      {"[S]\nk=1\n[S]\nk=2\n[U]\n", true, 0, 8},       // the first body only
      {cut + "[S]\nk=1\n", false, 0, 0},               // the header goes on a cut line
      {"[S]\n" + cut + "[T]\n", false, 0, 0},          // so does the next one
      {cut + "\n[S]\n" + cut + "x\n", true, kConfigLineMax + 1, 2 * kConfigLineMax + 7},
      {std::string("[S\0]\nk=1\n[X]\n", 13), true, 0, 9},  // a zero byte ends the name
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.text));
    size_t begin = 99, end = 99;
    ASSERT_EQ(ConfigFindSectionBody(c.text, "s", &begin, &end), c.found);
    if (!c.found) continue;
    EXPECT_EQ(begin, c.begin);
    EXPECT_EQ(end, c.end);
  }
}

// The text `text` handed over in pieces of random sizes up to `largest`
// (and its end), counting what it handed over.
struct PieceFeed {
  const std::string& text;
  std::mt19937& rng;
  size_t largest;
  size_t handed = 0;
  bool fail_at_end = false;  // a read that reaches the end fails instead

  bool operator()(char* into, size_t room, size_t* got) {
    EXPECT_GT(room, 0u);
    const size_t left = text.size() - handed;
    if (left == 0 && fail_at_end) return false;
    *got = std::min({left, room, std::uniform_int_distribution<size_t>(1, largest)(rng)});
    std::memcpy(into, text.data() + handed, *got);
    handed += *got;
    return true;
  }
};

// Read in pieces of any size, a text gives the body its whole finds: the
// same lines decide where it stands (a line cut short, a header on the
// rest of one, a carriage return, a zero byte, a byte-order mark), however
// the pieces cut them; the reading stops soon after the body's end; and a
// read that fails says so and gives no body.
TEST(SectionBodyTest, ReadInPiecesFindsWhatTheWholeTextFinds) {
  const std::string cut(kConfigLineMax, 'a');
  std::vector<std::string> texts = {"", "[", "[S", "[S]", "\xEF\xBB", "\xEF\xBB\xBF[S]\nk=1",
                                    "k=1\n[s]\r\nk\r\n[T]", cut + "[S]\nk=1\n",
                                    "[S]\n" + cut + "[T]\n", cut + "\n[S]\n" + cut + "x\n[T]"};
  static const char* const kLines[] = {"[S]", "[s] #c", "[T]", "[S", "k = v", "", "# [S]",
                                       "x\0[S]", "[]", "\r"};
  std::mt19937 rng(7);
  for (int i = 0; i < 3000; ++i) {
    std::string text = i % 5 == 0 ? "\xEF\xBB\xBF" : "";
    const int lines = std::uniform_int_distribution<int>(0, i % 50 == 0 ? 4000 : 12)(rng);
    for (int n = 0; n < lines; ++n) {
      const int pick = std::uniform_int_distribution<int>(0, 13)(rng);
      if (pick < 10) {
        text.append(kLines[pick], pick == 7 ? 5 : std::strlen(kLines[pick]));
      } else {
        // Lines about as long as the reader's limit, which go on past it.
        text += std::string(kConfigLineMax - 2 + std::uniform_int_distribution<int>(0, 4)(rng) +
                                (pick == 13 ? kConfigLineMax : 0),
                            'L');
      }
      const int end = std::uniform_int_distribution<int>(0, 9)(rng);
      text += end < 6 ? "\n" : end < 8 ? "\r\n" : end == 8 ? "\r" : "";
    }
    texts.push_back(text);
  }
  int found = 0, stopped_early = 0, failed = 0;
  for (const std::string& text : texts) {
    SCOPED_TRACE(testing::PrintToString(text.substr(0, 200)));
    size_t begin = 0, end = 0;
    const bool whole = ConfigFindSectionBody(text, "s", &begin, &end);
    found += whole;
    for (const size_t largest : {size_t{1}, size_t{7}, size_t{600}, size_t{100000}}) {
      PieceFeed feed{text, rng, largest};
      std::string body = "stale", lead;
      const ConfigSectionRead result = ConfigReadSectionBody(std::ref(feed), "s", &body, &lead);
      ASSERT_EQ(result, whole ? ConfigSectionRead::kFound : ConfigSectionRead::kNotFound)
          << "pieces of up to " << largest;
      EXPECT_EQ(lead, text.substr(0, kConfigLeadSize));
      EXPECT_TRUE(body == (whole ? text.substr(begin, end - begin) : "")) << largest;
      if (whole && end < text.size()) {
        // The next header's line is all the reading needed past the body.
        EXPECT_LE(feed.handed, end + kConfigLineMax + 1 + largest);
        stopped_early += feed.handed < text.size();
      }
      PieceFeed failing{text, rng, largest};
      failing.fail_at_end = true;
      body = "stale";
      // Only an answer known before the text's end comes without it.
      switch (ConfigReadSectionBody(std::ref(failing), "s", &body, &lead)) {
        case ConfigSectionRead::kFound:
          EXPECT_TRUE(whole && end < text.size() && body == text.substr(begin, end - begin));
          break;
        case ConfigSectionRead::kNotFound:
          EXPECT_FALSE(whole);
          EXPECT_EQ(body, "");
          break;
        case ConfigSectionRead::kReadFailed:
          ++failed;
          EXPECT_EQ(body, "");
          break;
        case ConfigSectionRead::kOutOfMemory:
          ADD_FAILURE() << "out of memory";
      }
      if (whole && end == text.size()) {
        EXPECT_EQ(failing.handed, text.size());
      }
    }
  }
  // Both answers, and reading that stopped before the end, were met often.
  EXPECT_GT(found, 500);
  EXPECT_GT(static_cast<int>(texts.size()) - found, 500);
  EXPECT_GT(stopped_early, 500);
  EXPECT_GT(failed, 500);
}

// Every "\n" of `text` written as `line_end`, as the platform's text is.
std::string WithLineEnds(const std::string& text, const std::string& line_end) {
  std::string out;
  for (char c : text) {
    if (c == '\n') {
      out += line_end;
    } else {
      out += c;
    }
  }
  return out;
}

// The platform's text: every line feed written as the platform's line end,
// whether the text's buffer has room for the longer ends (converted where it
// stands) or not (into a new one), and nothing else changed.
TEST(PlatformTextTest, EveryFeedBecomesTheLineEndInPlaceOrNot) {
  std::string long_text;
  for (int i = 0; i < 5000; ++i) {
    long_text += "key" + std::to_string(i) + " = " + std::string(i % 40, 'v') + "\n";
  }
  const std::vector<std::string> texts = {
      "", "a", "\n", "\n\n\n", "a\nb\n", "no feed at the end\nlast", "\r\n stays\r\n",
      "\0\n\0"s, long_text};
  for (size_t n = 0; n < texts.size(); ++n) {
    const std::string& text = texts[n];
    const std::string expected = WithLineEnds(text, kPlatformTextLineEnd);
    EXPECT_EQ(ConfigCountFeeds(text.data(), text.size()),
              static_cast<size_t>(std::count(text.begin(), text.end(), '\n')));
    std::string roomy = text;
    roomy.reserve(text.size() * 2 + 16);
    std::string tight = text;
    tight.shrink_to_fit();
    EXPECT_TRUE(ConfigPlatformText(roomy) == expected) << "text " << n << " (room)";
    EXPECT_TRUE(ConfigPlatformText(tight) == expected) << "text " << n << " (no room)";
  }
}

// Whether the lines kept as read may be written from the bytes read is
// judged against the writer itself, for either line end: where the judge
// says so, the writer writes exactly those bytes (after a line end of its
// own where it says that); where the writer writes a prefix of the text
// as read, the judge says so. Files of random lines, each ended by a line
// feed, a carriage return and a feed, a lone carriage return or nothing,
// mostly in the line end under test.
TEST(KeptLinesTest, AsReadIsWhatTheWriterWritesForEitherLineEnd) {
  static const char* const kLines[] = {"key = value", "[Section]", "", "# note", "a=1 #c",
                                       "  spaced  ", "x\0y", "[Other] tail", "=", "\r"};
  std::mt19937 rng(11);
  for (const std::string line_end : {"\n", "\r\n"}) {
    SCOPED_TRACE(testing::PrintToString(line_end));
    int as_read = 0, with_own_end = 0, differs = 0;
    for (int i = 0; i < 4000; ++i) {
      std::string text;
      const int lines = std::uniform_int_distribution<int>(1, 8)(rng);
      for (int n = 0; n < lines; ++n) {
        const int pick = std::uniform_int_distribution<int>(0, 12)(rng);
        text += pick < 10 ? std::string(kLines[pick], pick == 6 ? 3 : std::strlen(kLines[pick]))
                          : std::string(pick == 10 ? 600 : 20, 'L');
        const int end = std::uniform_int_distribution<int>(0, 19)(rng);
        text += end < 16 ? line_end : end == 16 ? "\n" : end == 17 ? "\r\n" : end == 18 ? "\r" : "";
      }
      const bool may_lead = i % 2 == 0;
      std::string appended;
      ConfigAppendKeptLines(text, 0, text.size(), &appended);
      const std::string written = WithLineEnds(appended, line_end);
      bool feed_first = true;
      const size_t place = ConfigKeptLinesAsRead(text, 0, text.size(),
                                                 may_lead ? &feed_first : nullptr,
                                                 line_end.c_str());
      SCOPED_TRACE(testing::PrintToString(text));
      if (place == std::string::npos) {
        ++differs;
        EXPECT_FALSE(written.size() <= text.size() && text.compare(0, written.size(), written) == 0)
            << "written as read, judged otherwise";
        continue;
      }
      ASSERT_LE(place, text.size());
      const bool own_end = may_lead && feed_first;
      with_own_end += own_end;
      as_read += !own_end;
      EXPECT_EQ(written, (own_end ? line_end : "") + text.substr(0, place));
    }
    // Each kind of verdict was met often.
    EXPECT_GT(as_read, 200);
    EXPECT_GT(with_own_end, 50);
    EXPECT_GT(differs, 200);
  }
}
