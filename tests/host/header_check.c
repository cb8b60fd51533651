/* The public header as a C host includes it: it must compile as C11 with
 * every warning, and give the record its layout there too. */
#include "mp4v_config.h"

_Static_assert(sizeof(MP4VSettings) == 732, "record size in C");

/* Called by the host tests, so this file's view of the layout is checked at
 * run time against the C++ one as well. */
size_t Mp4vHeaderCheckFrameRateOffsetInC(void) {
  return offsetof(MP4VSettings, frame_rate);
}
