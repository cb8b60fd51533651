/* The module's version: the one place it is written. The version resource
 * and the information query both take it from here. */
#ifndef MP4V_API_VERSION_H_
#define MP4V_API_VERSION_H_

#define MP4V_VERSION_MAJOR 9
#define MP4V_VERSION_MINOR 6
#define MP4V_VERSION_PATCH 8
#define MP4V_VERSION_BUILD 3641

#define MP4V_STRINGIFY_(x) #x
#define MP4V_STRINGIFY(x) MP4V_STRINGIFY_(x)
/* "9.6.8.3641" */
#define MP4V_VERSION_TEXT                                         \
  MP4V_STRINGIFY(MP4V_VERSION_MAJOR) "." MP4V_STRINGIFY(         \
      MP4V_VERSION_MINOR) "." MP4V_STRINGIFY(MP4V_VERSION_PATCH) \
      "." MP4V_STRINGIFY(MP4V_VERSION_BUILD)

#define MP4V_MODULE_DESCRIPTION "MPEG-4 part 2 Video Encoder Configuration Module"
#define MP4V_MAKER_NAME "Brennovatix (Demo)"
/* The platform text of the information query: the 64-bit Windows module
 * says so, every other build keeps the 32-bit text. */
#if defined(_WIN64)
#define MP4V_PLATFORM_TEXT "QZPLATFORM_X64"
#else
#define MP4V_PLATFORM_TEXT "QZPLATFORM_IA32"
#endif

#endif /* MP4V_API_VERSION_H_ */
