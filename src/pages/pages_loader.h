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

// Releases the current record as the next request does (the library is
// freed when the record loaded it) and leaves none: the state of a process
// that has made no request yet. Like a request, it must not run at the same
// time as another request or release.
void ReleaseEncoderPagesLibrary();

// The current record, or null when there is none (no request yet, the last
// one could not allocate its record, or it was released). The record is
// valid until the next request or release.
const LibraryHandle* CurrentPagesLibraryHandle();

#endif  // MP4V_PAGES_PAGES_LOADER_H_
