#include "bench_support.h"

#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <ini.h>

namespace bench {

#define MP4V_BENCH_KEY(field, offset, c_type, type_name) \
  {#field, offset, sizeof(c_type) == sizeof(double)},
const Key kKeys[kKeyCount] = {MP4V_SETTINGS_FIELDS(MP4V_BENCH_KEY)};
#undef MP4V_BENCH_KEY

bool LoadModule(Module* module, std::string* error, const std::string& path) {
  if (!module->library.Open(path, error)) return false;
  module->load = module->library.load();
  module->save = module->library.save();
  return true;
}

void SetFieldFromText(MP4VSettings* record, const Key& key, const char* value) {
  char* base = reinterpret_cast<char*>(record) + key.offset;
  if (key.is_double) {
    double number = std::strtod(value, nullptr);
    std::memcpy(base, &number, sizeof number);
  } else {
    int32_t number = static_cast<int32_t>(std::strtol(value, nullptr, 0));
    std::memcpy(base, &number, sizeof number);
  }
}

// What a user of inih writes: pick the 56 keys out of the settings section.
static int InihHandler(void* user, const char* section, const char* name,
                       const char* value) {
  if (std::strcmp(section, kSection) != 0) return 1;
  auto* record = static_cast<MP4VSettings*>(user);
  for (const Key& key : kKeys) {
    if (std::strcmp(name, key.name) != 0) continue;
    SetFieldFromText(record, key, value);
    break;
  }
  return 1;
}

bool InihLoad(const char* path, MP4VSettings* record) {
  return ini_parse(path, InihHandler, record) == 0;
}

double FieldValue(const MP4VSettings& record, const Key& key) {
  const char* base = reinterpret_cast<const char*>(&record) + key.offset;
  if (key.is_double) {
    double value;
    std::memcpy(&value, base, sizeof value);
    return value;
  }
  int32_t value;
  std::memcpy(&value, base, sizeof value);
  return value;
}

void SetField(MP4VSettings* record, const Key& key, double value) {
  char* base = reinterpret_cast<char*>(record) + key.offset;
  if (key.is_double) {
    std::memcpy(base, &value, sizeof value);
  } else {
    int32_t number = static_cast<int32_t>(value);
    std::memcpy(base, &number, sizeof number);
  }
}

MP4VSettings ExampleRecord() {
  MP4VSettings record;
  std::memset(&record, 0, sizeof record);
  record.width = 720;
  record.height = 576;
  record.frame_rate = 29.97;
  return record;
}

MP4VSettings DistinctRecord() {
  MP4VSettings record;
  std::memset(&record, 0, sizeof record);
  for (size_t i = 0; i < kKeyCount; ++i) {
    SetField(&record, kKeys[i], static_cast<double>(100 + 7 * i));
  }
  record.width = 1920;
  record.height = 1080;
  record.target_bitrate = 8000000;
  record.frame_rate = 25.0;  // no snapping applies
  return record;
}

std::string CompareRecords(const MP4VSettings& want, const MP4VSettings& got) {
  for (const Key& key : kKeys) {
    const double a = FieldValue(want, key);
    const double b = FieldValue(got, key);
    // A loaded frame rate may be snapped: 29.97 becomes 30 / 1.001.
    const bool same = key.is_double ? std::fabs(a - b) < 1e-4 : a == b;
    if (!same) {
      char text[160];
      std::snprintf(text, sizeof text, "%s: want %.10g, got %.10g", key.name,
                    a, b);
      return text;
    }
  }
  return std::string();
}

namespace {

// One entry in the aligned layout the module writes: the key filled with
// blanks to 31 characters, " = ", the value, and " #comment" when given.
void AppendEntry(std::string* out, const char* key, const std::string& value,
                 const char* comment) {
  char line[256];
  if (comment != nullptr) {
    std::snprintf(line, sizeof line, "%-31s = %s #%s\n", key, value.c_str(),
                  comment);
  } else {
    std::snprintf(line, sizeof line, "%-31s = %s\n", key, value.c_str());
  }
  *out += line;
}

}  // namespace

std::string GenerateConfigText(size_t lines, const MP4VSettings& record) {
  // First line, every other section (11 lines each: the empty line the
  // writer puts before a header, the header, a comment, eight entries),
  // filler comments, then the settings section (empty line, header, 56
  // entries).
  constexpr size_t kHead = 1;
  constexpr size_t kBlock = 11;
  constexpr size_t kSettings = 2 + kKeyCount;
  std::string out = "# encoder presets and host options\n";
  size_t budget = lines > kHead + kSettings ? lines - kHead - kSettings : 0;
  static const char* const kOtherKeys[] = {"width",       "height",
                                           "frame_rate",  "input_file",
                                           "preset_name", "audio_bitrate",
                                           "deinterlace", "threads"};
  size_t section = 0;
  char text[128];
  while (budget >= kBlock) {
    ++section;
    std::snprintf(text, sizeof text, "\n[Preset %zu] #host preset\n", section);
    out += text;
    std::snprintf(text, sizeof text,
                  "# preset %zu: settings kept by the host application\n",
                  section);
    out += text;
    for (size_t k = 0; k < 8; ++k) {
      std::string value;
      switch (k) {
        case 0: value = std::to_string(320 + section % 1600); break;
        case 1: value = std::to_string(240 + section % 900); break;
        case 2: value = "29.9700000000"; break;
        case 3:
          std::snprintf(text, sizeof text, "C:\\video\\clip_%zu.avi", section);
          value = text;
          break;
        case 4: value = section % 2 ? "fast" : "quality"; break;
        case 5: value = std::to_string(64000 + 1000 * (section % 256)); break;
        case 6: value = "0x" + std::to_string(section % 2); break;
        default: value = std::to_string(1 + section % 8); break;
      }
      AppendEntry(&out, kOtherKeys[k], value, k % 3 == 0 ? "kept" : nullptr);
    }
    budget -= kBlock;
  }
  for (; budget > 0; --budget) out += "# filler comment line of the host\n";
  out += "\n[MP4V Settings]\n";
  for (const Key& key : kKeys) {
    char value[64];
    if (key.is_double) {
      std::snprintf(value, sizeof value, "%.10f", FieldValue(record, key));
    } else {
      std::snprintf(value, sizeof value, "%d",
                    static_cast<int>(FieldValue(record, key)));
    }
    AppendEntry(&out, key.name, value, nullptr);
  }
  return out;
}

size_t CountLines(const std::string& text) {
  size_t count = 0;
  for (char c : text) count += c == '\n';
  return count;
}

bool ReadFileStdio(const char* path, std::string* out) {
  out->clear();
  std::FILE* file = std::fopen(path, "rb");
  if (file == nullptr) return false;
  char chunk[16384];
  for (;;) {
    size_t got = std::fread(chunk, 1, sizeof chunk, file);
    out->append(chunk, got);
    if (got < sizeof chunk) break;
  }
  const bool ok = !std::ferror(file);
  std::fclose(file);
  return ok;
}

bool WriteFilePlain(const char* path, const std::string& bytes) {
  std::FILE* file = std::fopen(path, "wb");
  if (file == nullptr) return false;
  bool ok = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  ok = std::fclose(file) == 0 && ok;
  return ok;
}

bool SafeWrite(const char* path, const std::string& bytes,
               bool sync_directory) {
  const std::string target(path);
  const size_t slash = target.rfind('/');
  const std::string directory =
      slash == std::string::npos ? "." : target.substr(0, slash);
  const std::string temporary =
      directory + "/." + target.substr(slash + 1) + ".floor.tmp";
  int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC,
                0644);
  if (fd < 0) return false;
  const char* data = bytes.data();
  size_t left = bytes.size();
  bool ok = true;
  while (ok && left > 0) {
    ssize_t n = write(fd, data, left);
    if (n < 0 && errno == EINTR) continue;
    ok = n > 0;
    if (ok) {
      data += n;
      left -= static_cast<size_t>(n);
    }
  }
  ok = ok && fsync(fd) == 0;
  ok = close(fd) == 0 && ok;
  ok = ok && rename(temporary.c_str(), path) == 0;
  if (!ok) {
    unlink(temporary.c_str());
    return false;
  }
  if (sync_directory) {
    int dir = open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir < 0) return false;
    ok = fsync(dir) == 0;
    close(dir);
  }
  return ok;
}

std::string MakeScratchDir(const std::string& parent) {
  std::string base = parent;
  if (base.empty()) {
    const char* tmp = std::getenv("TMPDIR");
    base = tmp != nullptr && tmp[0] != '\0' ? tmp : "/tmp";
  }
  mkdir(base.c_str(), 0755);  // may exist already
  std::string pattern = base + "/mp4v_bench.XXXXXX";
  if (mkdtemp(&pattern[0]) == nullptr) return std::string();
  return pattern;
}

void RemoveScratchDir(const std::string& dir) {
  DIR* listing = opendir(dir.c_str());
  if (listing == nullptr) return;
  while (dirent* entry = readdir(listing)) {
    if (std::strcmp(entry->d_name, ".") == 0 ||
        std::strcmp(entry->d_name, "..") == 0) {
      continue;
    }
    unlink((dir + "/" + entry->d_name).c_str());
  }
  closedir(listing);
  rmdir(dir.c_str());
}

}  // namespace bench
