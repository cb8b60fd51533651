// The module's one export and the module information query.
#ifndef MP4V_API_MODULE_H_
#define MP4V_API_MODULE_H_

#include <cstdint>

#include "mp4v_config.h"

// The library's one export; see MP4VConfigGetAPIExtFn.
extern "C" void* MP4V_CDECL MP4VConfigGetAPIExt(uint32_t function_id);

// The module information query handed out for MP4V_FUNC_GET_INFO: writes
// item 1 to 5 to the start of `buffer` (67, 4, 4, 10 or 15 bytes, texts
// without a terminating zero) and returns 0; returns 1 and writes nothing for
// a null buffer or any other item.
extern "C" int32_t MP4V_CDECL MP4VConfigGetInfo(uint32_t item, void* buffer);

#endif  // MP4V_API_MODULE_H_
