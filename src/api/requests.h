// The load and save requests handed out for MP4V_FUNC_LOAD and
// MP4V_FUNC_SAVE, and the settings transfer between a settings record and a
// configuration file.
#ifndef MP4V_API_REQUESTS_H_
#define MP4V_API_REQUESTS_H_

#include <cstdint>

#include "config/document.h"
#include "mp4v_config.h"

// Accepts a non-null record and a non-null name whose rest from its last '.'
// is exactly ".cfg" or ".ini" (case counts: ".CFG", ".cfg2" and ".cfg " are
// refused).
bool MP4VConfigCheckFileName(const void* settings, const char* file_name);

// Binds every key of the table between `document` (not null) and the record
// at `settings`, in table order, in the direction of `mode` ("load" or
// "save"), exactly as the transfer does: a load binds nothing from a
// document of one node or without the section. Returns false only when a
// save's binding ran out of memory (the document may then lack some keys).
bool MP4VConfigBindDocument(ConfigNode* document, const char* mode,
                            void* settings);

// Runs the transfer in the direction of `mode` ("load" or "save") between
// the record at `settings` and the file `file_name`, without the name check.
// Load: reads the file and binds every key of the table into the record
// (nothing when the file gives a single node: missing, unreadable, empty, or
// one line). Save: reads the file, sets every key, and replaces the file in
// one step. Returns true when a save wrote the file; false when it did not
// (the file is then exactly as before). A load always returns true.
bool MP4VConfigTransfer(const char* mode, const char* file_name,
                        void* settings);

// The requests themselves; see MP4VConfigLoadFn and MP4VConfigSaveFn.
extern "C" int32_t MP4V_CDECL MP4VConfigLoad(MP4VSettings* settings,
                                            const char* file_name);
extern "C" int32_t MP4V_CDECL MP4VConfigSave(const MP4VSettings* settings,
                                            const char* file_name);

#endif  // MP4V_API_REQUESTS_H_
