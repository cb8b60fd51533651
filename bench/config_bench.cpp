// Load and save requests of the module, side by side with the floors (plain
// stdio read; safe replacing write) and the generic INI libraries a user
// would pick instead (inih, SimpleIni), on the same generated files, in one
// process. Every case is checked for the right result before it is timed.
//
// Extra flags, before Google Benchmark's own:
//   --scratch_dir=DIR   where the input files go (a fresh directory inside)
//   --keep_files        leave the scratch directory in place
#include <benchmark/benchmark.h>
// Debian's SimpleIni.h keeps its template bodies behind SI_IMPLEMENTATION;
// the narrow-character class needs no conversion library.
#define SI_NO_CONVERSION
#define SI_IMPLEMENTATION
#include <SimpleIni.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "bench_support.h"
#include "heap_counter.h"

namespace {

using bench::kKeys;
using bench::kSection;

bench::Module g_module;

// ---- The peers ---------------------------------------------------------

bool SimpleIniLoad(const char* path, MP4VSettings* record) {
  CSimpleIniA ini;
  if (ini.LoadFile(path) < 0) return false;
  for (const bench::Key& key : kKeys) {
    const char* value = ini.GetValue(kSection, key.name, nullptr);
    if (value == nullptr) continue;
    bench::SetFieldFromText(record, key, value);
  }
  return true;
}

void SimpleIniSet(CSimpleIniA* ini, const MP4VSettings& record) {
  for (const bench::Key& key : kKeys) {
    if (key.is_double) {
      ini->SetDoubleValue(kSection, key.name, bench::FieldValue(record, key));
    } else {
      ini->SetLongValue(kSection, key.name,
                        static_cast<long>(bench::FieldValue(record, key)));
    }
  }
}

// Load, set the 56 values, SaveFile: SimpleIni truncates and rewrites the
// file in place, with no temporary file and no fsync.
bool SimpleIniSave(const char* path, const MP4VSettings& record) {
  CSimpleIniA ini;
  if (ini.LoadFile(path) < 0) return false;
  SimpleIniSet(&ini, record);
  return ini.SaveFile(path, false) >= 0;
}

// The same, with the text written through the floor's safe replacement.
bool SimpleIniSaveSafe(const char* path, const MP4VSettings& record) {
  CSimpleIniA ini;
  if (ini.LoadFile(path) < 0) return false;
  SimpleIniSet(&ini, record);
  std::string text;
  if (ini.Save(text, false) < 0) return false;
  return bench::SafeWrite(path, text, false);
}

// ---- Cases -------------------------------------------------------------

struct InputFile {
  size_t lines = 0;
  std::string path;       // read by the load cases, never written
  std::string bytes;      // its contents, as the module writes them
  MP4VSettings record{};  // the values it holds
};

// Runs `operation` once per iteration and reports the peak heap above the
// level at the start and the allocations per operation.
void RunCase(benchmark::State& state, const InputFile& file,
             const std::function<bool()>& operation) {
  const size_t base = HeapCurrentBytes();
  HeapResetPeak();
  const uint64_t allocations = HeapAllocationCount();
  for (auto _ : state) {
    if (!operation()) {
      state.SkipWithError("the operation failed");
      break;
    }
  }
  const uint64_t count = HeapAllocationCount() - allocations;
  state.counters["peak_heap_bytes"] =
      static_cast<double>(HeapPeakBytes() - base);
  state.counters["allocs_per_op"] =
      benchmark::Counter(static_cast<double>(count),
                         benchmark::Counter::kAvgIterations);
  state.counters["lines"] = static_cast<double>(file.lines);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(file.bytes.size()));
}

void Register(const std::string& name, const InputFile& file,
              std::function<bool()> operation) {
  benchmark::RegisterBenchmark(
      name.c_str(),
      [&file, operation](benchmark::State& state) {
        RunCase(state, file, operation);
      })
      ->UseRealTime()
      ->Unit(benchmark::kMicrosecond);
}

// ---- Set-up and checks -------------------------------------------------

bool Fail(const std::string& what) {
  std::fprintf(stderr, "mp4v_bench: %s\n", what.c_str());
  return false;
}

std::string ReadOrEmpty(const std::string& path) {
  std::string bytes;
  bench::ReadFileStdio(path.c_str(), &bytes);
  return bytes;
}

// The 59-line file of the worked example: the example record saved through
// the module to a new file.
bool MakeExampleFile(const std::string& dir, InputFile* file) {
  file->path = dir + "/example_59.cfg";
  file->record = bench::ExampleRecord();
  if (g_module.save(&file->record, file->path.c_str()) != MP4V_STATUS_OK) {
    return Fail("save of the example record failed");
  }
  file->bytes = ReadOrEmpty(file->path);
  file->lines = bench::CountLines(file->bytes);
  if (file->lines != 59) {
    return Fail("the example file has " + std::to_string(file->lines) +
                " lines, not 59");
  }
  return true;
}

// A generated file, put in the module's own layout by one save (so that
// every later save leaves it byte for byte the same).
bool MakeLargeFile(const std::string& dir, size_t lines, InputFile* file) {
  file->path = dir + "/host_" + std::to_string(lines) + ".cfg";
  file->record = bench::DistinctRecord();
  const std::string text = bench::GenerateConfigText(lines, file->record);
  if (!bench::WriteFilePlain(file->path.c_str(), text)) {
    return Fail("cannot write " + file->path);
  }
  if (g_module.save(&file->record, file->path.c_str()) != MP4V_STATUS_OK) {
    return Fail("save into " + file->path + " failed");
  }
  file->bytes = ReadOrEmpty(file->path);
  file->lines = bench::CountLines(file->bytes);
  if (file->bytes != text) {
    std::fprintf(stderr,
                 "mp4v_bench: note: %s changed on its first save (%zu lines "
                 "generated, %zu after)\n",
                 file->path.c_str(), bench::CountLines(text), file->lines);
  }
  return true;
}

bool CheckLoad(const char* what, const InputFile& file,
               bool (*load)(const char*, MP4VSettings*)) {
  MP4VSettings got;
  std::memset(&got, 0xAA, sizeof got);
  if (!load(file.path.c_str(), &got)) return Fail(std::string(what) + " failed");
  std::string diff = bench::CompareRecords(file.record, got);
  if (!diff.empty()) {
    return Fail(std::string(what) + " of " + file.path + ": " + diff);
  }
  return true;
}

bool ModuleLoad(const char* path, MP4VSettings* record) {
  return g_module.load(record, path) == MP4V_STATUS_OK;
}

// Every case gets its own copy of the file for the save cases, checked to
// hold the record's values afterwards.
bool CheckSaveCopy(const char* what, const InputFile& file,
                   const std::string& copy, bool same_bytes) {
  if (same_bytes && ReadOrEmpty(copy) != file.bytes) {
    return Fail(std::string(what) + " changed the bytes of " + copy);
  }
  MP4VSettings got;
  std::memset(&got, 0x55, sizeof got);
  if (!ModuleLoad(copy.c_str(), &got)) return Fail("reload of " + copy);
  std::string diff = bench::CompareRecords(file.record, got);
  if (!diff.empty()) return Fail(std::string(what) + " of " + copy + ": " + diff);
  return true;
}

bool SetUpCases(const std::string& dir, std::vector<InputFile>* files) {
  files->resize(3);
  if (!MakeExampleFile(dir, &(*files)[0]) ||
      !MakeLargeFile(dir, 1000, &(*files)[1]) ||
      !MakeLargeFile(dir, 50000, &(*files)[2])) {
    return false;
  }
  // The replaced allocator must see the module's allocations: a load of the
  // example file makes a few (its bytes, the document's block of nodes),
  // and nothing else allocates meanwhile.
  const uint64_t before = HeapAllocationCount();
  MP4VSettings scratch = (*files)[0].record;
  g_module.load(&scratch, (*files)[0].path.c_str());
  if (HeapAllocationCount() == before) {
    return Fail("the module's allocations are not counted");
  }

  for (const InputFile& file : *files) {
    const std::string tag = std::to_string(file.lines);
    if (!CheckLoad("module load", file, ModuleLoad) ||
        !CheckLoad("inih ini_parse", file, bench::InihLoad) ||
        !CheckLoad("SimpleIni load", file, SimpleIniLoad)) {
      return false;
    }
    std::string bytes;
    if (!bench::ReadFileStdio(file.path.c_str(), &bytes) || bytes != file.bytes) {
      return Fail("stdio read of " + file.path);
    }

    const std::string* path = &file.path;
    const InputFile* in = &file;
    Register("load/" + tag + "/module", file, [path] {
      MP4VSettings record;
      std::memset(&record, 0, sizeof record);
      bool ok = g_module.load(&record, path->c_str()) == MP4V_STATUS_OK;
      benchmark::DoNotOptimize(record);
      return ok;
    });
    Register("load/" + tag + "/floor_stdio", file, [path] {
      std::string data;
      bool ok = bench::ReadFileStdio(path->c_str(), &data);
      benchmark::DoNotOptimize(data.data());
      return ok;
    });
    Register("load/" + tag + "/inih", file, [path] {
      MP4VSettings record;
      std::memset(&record, 0, sizeof record);
      bool ok = bench::InihLoad(path->c_str(), &record);
      benchmark::DoNotOptimize(record);
      return ok;
    });
    Register("load/" + tag + "/simpleini", file, [path] {
      MP4VSettings record;
      std::memset(&record, 0, sizeof record);
      bool ok = SimpleIniLoad(path->c_str(), &record);
      benchmark::DoNotOptimize(record);
      return ok;
    });

    struct SaveCase {
      const char* name;
      const char* extension;
      bool same_bytes;  // the case writes back exactly the module's bytes
      std::function<bool(const std::string&)> run;
    };
    const SaveCase cases[] = {
        {"module", ".cfg", true,
         [in](const std::string& copy) {
           return g_module.save(&in->record, copy.c_str()) == MP4V_STATUS_OK;
         }},
        {"floor_safe_write", ".cfg", true,
         [in](const std::string& copy) {
           return bench::SafeWrite(copy.c_str(), in->bytes, false);
         }},
        {"floor_safe_write_dirsync", ".cfg", true,
         [in](const std::string& copy) {
           return bench::SafeWrite(copy.c_str(), in->bytes, true);
         }},
        {"simpleini_nofsync", ".ini", false,
         [in](const std::string& copy) {
           return SimpleIniSave(copy.c_str(), in->record);
         }},
        {"simpleini_safe_write", ".ini", false,
         [in](const std::string& copy) {
           return SimpleIniSaveSafe(copy.c_str(), in->record);
         }},
    };
    for (const SaveCase& c : cases) {
      auto copy = std::make_shared<std::string>(dir + "/save_" + c.name + "_" +
                                                tag + c.extension);
      if (!bench::WriteFilePlain(copy->c_str(), file.bytes)) {
        return Fail("cannot write " + *copy);
      }
      if (!c.run(*copy)) return Fail(std::string(c.name) + " save of " + *copy);
      if (!CheckSaveCopy(c.name, file, *copy, c.same_bytes)) return false;
      auto run = c.run;
      Register("save/" + tag + "/" + c.name, file,
               [run, copy] { return run(*copy); });
    }
  }
  return true;
}

std::string CpuModel() {
  std::ifstream cpuinfo("/proc/cpuinfo");
  std::string line;
  while (std::getline(cpuinfo, line)) {
    if (line.compare(0, 10, "model name") == 0) {
      size_t colon = line.find(':');
      if (colon != std::string::npos) return line.substr(colon + 2);
    }
  }
  return "unknown";
}

std::string FirstLine(const char* path) {
  std::ifstream in(path);
  std::string line;
  std::getline(in, line);
  return line;
}

}  // namespace

int main(int argc, char** argv) {
  std::string scratch_parent;
  bool keep_files = false;
  std::vector<char*> rest;
  for (int i = 0; i < argc; ++i) {
    if (i > 0 && std::strncmp(argv[i], "--scratch_dir=", 14) == 0) {
      scratch_parent = argv[i] + 14;
    } else if (i > 0 && std::strcmp(argv[i], "--keep_files") == 0) {
      keep_files = true;
    } else {
      rest.push_back(argv[i]);
    }
  }
  int rest_count = static_cast<int>(rest.size());

  std::string error;
  if (!bench::LoadModule(&g_module, &error)) {
    std::fprintf(stderr, "mp4v_bench: cannot load the module: %s\n",
                 error.c_str());
    return 2;
  }
  const std::string dir = bench::MakeScratchDir(scratch_parent);
  if (dir.empty()) {
    std::fprintf(stderr, "mp4v_bench: cannot make a scratch directory\n");
    return 2;
  }
  std::vector<InputFile> files;
  if (!SetUpCases(dir, &files)) {
    if (!keep_files) bench::RemoveScratchDir(dir);
    return 1;
  }

  benchmark::AddCustomContext("cpu_model", CpuModel());
  benchmark::AddCustomContext("load_average_at_start", FirstLine("/proc/loadavg"));
  benchmark::AddCustomContext("scratch_dir", dir);
  benchmark::AddCustomContext(
      "note_simpleini",
      "simpleini_nofsync is SimpleIni's SaveFile: it truncates and rewrites "
      "the file in place, with no temporary file and no fsync; "
      "simpleini_safe_write writes its text through the floor's safe write");
  benchmark::AddCustomContext(
      "note_floors",
      "floor_safe_write: temporary file, write, fsync, close, rename; "
      "floor_safe_write_dirsync adds an fsync of the directory after the "
      "rename, as the module does");
  for (const InputFile& file : files) {
    benchmark::AddCustomContext("file_" + std::to_string(file.lines),
                                std::to_string(file.bytes.size()) + " bytes");
  }

  benchmark::Initialize(&rest_count, rest.data());
  if (benchmark::ReportUnrecognizedArguments(rest_count, rest.data())) return 2;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  if (!keep_files) bench::RemoveScratchDir(dir);
  return 0;
}
