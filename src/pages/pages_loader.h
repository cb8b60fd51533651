// The settings-pages request: loads "demo_config_gui_mp4v.dll" and hands out
// its entry "showMP4VEncoderPages".
//
// The process keeps one current library handle record. Each request first
// releases it (freeing the library only if that record loaded it), then
// allocates a new one, makes it current, loads the library into it and looks
// the entry up. The library stays loaded (and owned by the current record)
// until the next request or the end of the process, also when the entry is
// missing. Requests are not locked: make them from one thread at a time.
#ifndef MP4V_PAGES_PAGES_LOADER_H_
#define MP4V_PAGES_PAGES_LOADER_H_

#include "pages/library_handle.h"

// Returns the entry's address, or null when the library cannot be loaded, it
// lacks the entry, or memory runs out.
void* GetEncoderPagesEntry();

// Releases the current record as the next request would (the library is
// freed when the record loaded it) and leaves none. The module itself never
// calls this: the library loaded last stays until the process ends. Tests
// use it to start from no record and to see how many loads a record held.
void ReleaseEncoderPagesLibrary();

// The current record, or null before the first request (or after a request
// whose record could not be allocated). For inspection by tests.
const LibraryHandle* CurrentPagesLibraryHandle();

#endif  // MP4V_PAGES_PAGES_LOADER_H_
