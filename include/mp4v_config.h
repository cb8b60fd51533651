/*
 * mp4v_config.h - host interface of the MPEG-4 part 2 video encoder
 * configuration module ("demo_config_mp4v.dll").
 *
 * A host loads the library, looks up its one export, MP4VConfigGetAPIExt,
 * and asks it for the functions below by identifier. Every function uses the
 * cdecl calling convention. Nothing the module returns has to be freed by the
 * host, and no C++ type or exception crosses this interface.
 *
 * Threads and processes: the information query and the load, save and
 * update requests keep no state between calls, and may run on several
 * threads at once. Requests on the same record must not overlap. Requests on the same
 * file may, from any thread or process: saves of one file take turns, and a
 * load always reads one version of a file, never parts of two (see "What
 * several writers at once get" under the save request). The settings-pages request
 * (MP4V_FUNC_SETTINGS_PAGES) changes process-wide state: make it from one
 * thread at a time.
 *
 * Defaults: the module keeps none. The record holds what the host put in it;
 * a load sets only the fields whose keys the file holds, and a missing or
 * empty file changes nothing but the frame-rate snapping. Set your defaults
 * in the record before the first load, and save only after a load that
 * succeeded (see the load request).
 *
 * Unloading: the host may unload the module once no call into it is running
 * on any thread (no request, no information query, no call of a function it
 * handed out, the pages' entry included). The addresses it handed out for
 * the information query, the load and the save then lead nowhere. The module
 * releases nothing when it is unloaded: the settings-pages library that the
 * last MP4V_FUNC_SETTINGS_PAGES request loaded stays loaded until the
 * process ends (the entry address that request handed out stays callable),
 * and a module loaded again does not know of it.
 *
 * This header compiles as C11 or later (it checks the record layout with
 * _Static_assert) and as C++11 or later.
 */
#ifndef MP4V_CONFIG_H_
#define MP4V_CONFIG_H_

#include <stddef.h>
#include <stdint.h>

#if defined(_WIN32) && !defined(_WIN64)
#define MP4V_CDECL __cdecl
#elif defined(__i386__)
#define MP4V_CDECL __attribute__((cdecl))
#else
#define MP4V_CDECL
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Function identifiers accepted by MP4VConfigGetAPIExt -------------- */

/* The module information query (MP4VConfigGetInfoFn). */
#define MP4V_FUNC_GET_INFO 0x0001u
/* The load request (MP4VConfigLoadFn). */
#define MP4V_FUNC_LOAD 0x2001u
/* The save request (MP4VConfigSaveFn). */
#define MP4V_FUNC_SAVE 0x2002u
/* The update request (MP4VConfigUpdateFn): changes what the host changed,
 * and only that, in the file as it is when the save's turn comes. Why
 * 0x2004: it is a request on a file beside the load (0x2001) and the save
 * (0x2002), so it takes a number of theirs; 0x2003 is not used, since hosts
 * and tests of the first table hold that it gives null, as 0x2000, 0x2007
 * and 0x2009 still do. A module older than this header gives null for it:
 * a host that needs to run with one falls back to MP4V_FUNC_SAVE. */
#define MP4V_FUNC_UPDATE 0x2004u
/* Performs a settings-pages request during the call and returns the address
 * of "showMP4VEncoderPages" in "demo_config_gui_mp4v.dll", or null. It shows
 * nothing itself: the pages open when the host calls that address. The
 * library stays loaded until the next such call, which frees it first, or
 * until the process ends (unloading the module does not free it): use only
 * the latest address. Make these calls from one thread at a time. The
 * address is an MP4VShowEncoderPagesFn (see "The settings pages" below). */
#define MP4V_FUNC_SETTINGS_PAGES 0x2008u

/* ---- Information items of the module information query -----------------
 * Each item is written to the start of the caller's buffer, exactly as many
 * bytes as its _LENGTH says and nothing after them; texts are 8-bit and have
 * no terminating zero. The module defines the values of items 2 and 3 (0
 * and 2), not what they stand for: a host should not read more into them.
 * The native (Linux) build reports the same texts, platform included. */

/* Module name text, "Brennovatix (Demo) MPEG-4 part 2 Video Encoder
 * Configuration Module". */
#define MP4V_INFO_MODULE_NAME 1u
#define MP4V_INFO_MODULE_NAME_LENGTH 67u
/* 32-bit little-endian integer 0. */
#define MP4V_INFO_VALUE_0 2u
#define MP4V_INFO_VALUE_0_LENGTH 4u
/* 32-bit little-endian integer 2. */
#define MP4V_INFO_VALUE_2 3u
#define MP4V_INFO_VALUE_2_LENGTH 4u
/* Version text "9.6.8.3641". */
#define MP4V_INFO_VERSION 4u
#define MP4V_INFO_VERSION_LENGTH 10u
/* Platform text: "QZPLATFORM_X64" in the 64-bit Windows (x86-64) module,
 * "QZPLATFORM_IA32" in every other build. The length follows the target the
 * host is compiled for, which is the module's own: a process loads only a
 * module of its own architecture. */
#define MP4V_INFO_PLATFORM 5u
#if defined(_WIN64)
#define MP4V_INFO_PLATFORM_LENGTH 14u
#else
#define MP4V_INFO_PLATFORM_LENGTH 15u
#endif
/* A buffer of this many bytes takes any item. */
#define MP4V_INFO_MAX_BYTES 67u

/* ---- Status results ------------------------------------------------------ */

#define MP4V_STATUS_OK 0
#define MP4V_STATUS_FAILED 1

/* ---- Settings record ------------------------------------------------------
 * The encoder's parameter record. The module reads (save) or writes (load)
 * only the 56 named fields, in place; the reserved bytes belong to the
 * encoder and are never touched, nor is any byte past offset 731. A host
 * whose record is longer passes its own record: only these offsets count.
 * frame_rate lies at offset 332, which is 4- but not 8-aligned on every
 * platform, hence the packing. */
#pragma pack(push, 4)
typedef struct MP4VSettings {
  int32_t profile_id;                 /*   0 */
  int32_t level_id;                   /*   4 */
  int32_t width;                      /*   8 */
  int32_t height;                     /*  12 */
  int32_t video_type;                 /*  16 */
  int32_t deinterlacing_enable;       /*  20 */
  int32_t field_order;                /*  24 */
  int32_t alternative_scan;           /*  28 */
  int32_t quant_type;                 /*  32 */
  int32_t quant_i;                    /*  36 */
  int32_t quality;                    /*  40 */
  int32_t max_quantizer;              /*  44 */
  int32_t min_quantizer;              /*  48 */
  int32_t adapt_quant;                /*  52 */
  int32_t quant_p;                    /*  56 */
  int32_t quant_b;                    /*  60 */
  uint8_t reserved_64[60];            /*  64 to 123 */
  int32_t interlace_mode;             /* 124 */
  int32_t video_pulldown_flag;        /* 128 */
  uint8_t reserved_132[48];           /* 132 to 179 */
  int32_t no_limit_bitrate_by_level;  /* 180 */
  int32_t target_bitrate;             /* 184 */
  int32_t rc_mode;                    /* 188 */
  int32_t bvop_auto;                  /* 192 */
  int32_t bvop_count;                 /* 196 */
  int32_t scene_change;               /* 200 */
  int32_t max_key_interval;           /* 204 */
  int32_t max_bitrate;                /* 208 */
  int32_t vbv_buffer;                 /* 212 */
  int32_t write_vbv_params;           /* 216 */
  uint8_t reserved_220[112];          /* 220 to 331 */
  double frame_rate;                  /* 332, snapped after every load */
  int32_t out_fps;                    /* 340 */
  uint8_t reserved_344[8];            /* 344 to 351 */
  int32_t h263_mode;                  /* 352 */
  int32_t data_partitioned;           /* 356 */
  int32_t resync_marker;              /* 360 */
  int32_t slice_count;                /* 364 */
  int32_t closed_gov;                 /* 368 */
  int32_t vol_every_i_vop;            /* 372 */
  int32_t user_data_low_delay;        /* 376 */
  int32_t pixel_aspect_ratio;         /* 380 */
  int32_t pixel_ar_width;             /* 384 */
  int32_t pixel_ar_height;            /* 388 */
  uint8_t reserved_392[4];            /* 392 to 395 */
  int32_t gov_every_i_vop;            /* 396 */
  int32_t h263_unrestricted_mv;       /* 400 */
  int32_t h263_advanced_intra_coding; /* 404 */
  int32_t h263_deblocking_filter;     /* 408 */
  int32_t h263_slice_structured;      /* 412 */
  int32_t h263_modified_quantization; /* 416 */
  uint8_t reserved_420[88];           /* 420 to 507 */
  int32_t me_4mv;                     /* 508 */
  int32_t me_subpel;                  /* 512 */
  int32_t me_f_code;                  /* 516 */
  int32_t rounding_control;           /* 520 */
  int32_t me_fast;                    /* 524 */
  int32_t me_extended_predictors;     /* 528 */
  uint8_t reserved_532[112];          /* 532 to 643 */
  int32_t ac_prediction;              /* 644 */
  uint8_t reserved_648[64];           /* 648 to 711 */
  int32_t send_b_vop_mode;            /* 712 */
  uint8_t reserved_716[8];            /* 716 to 723 */
  int32_t calc_quality;               /* 724 */
  int32_t num_threads;                /* 728 */
} MP4VSettings;                       /* 732 bytes */
#pragma pack(pop)

/* ---- The 56 settings, listed once -----------------------------------------
 * X(field, offset, c_type, type_name) for every field the module reads and
 * writes, in the order of binding (the order in which a save adds keys that a
 * file lacks). The field's name is also its configuration key in the section
 * "MP4V Settings"; c_type is the field's C type and type_name the name of its
 * text form: "int" (32-bit signed decimal; "0x" hexadecimal on load) or "dbl"
 * (a double written with ten fraction digits). Hosts may expand it too, e.g.
 *   #define KEY_NAME(field, offset, c_type, type_name) #field,
 *   static const char *const keys[] = {MP4V_SETTINGS_FIELDS(KEY_NAME)};
 */
#define MP4V_SETTINGS_FIELDS(X) \
  X(profile_id, 0, int32_t, "int")                    \
  X(level_id, 4, int32_t, "int")                      \
  X(width, 8, int32_t, "int")                         \
  X(height, 12, int32_t, "int")                       \
  X(video_type, 16, int32_t, "int")                   \
  X(deinterlacing_enable, 20, int32_t, "int")         \
  X(field_order, 24, int32_t, "int")                  \
  X(alternative_scan, 28, int32_t, "int")             \
  X(quant_type, 32, int32_t, "int")                   \
  X(quant_i, 36, int32_t, "int")                      \
  X(quality, 40, int32_t, "int")                      \
  X(max_quantizer, 44, int32_t, "int")                \
  X(min_quantizer, 48, int32_t, "int")                \
  X(adapt_quant, 52, int32_t, "int")                  \
  X(quant_p, 56, int32_t, "int")                      \
  X(quant_b, 60, int32_t, "int")                      \
  X(interlace_mode, 124, int32_t, "int")              \
  X(video_pulldown_flag, 128, int32_t, "int")         \
  X(no_limit_bitrate_by_level, 180, int32_t, "int")   \
  X(target_bitrate, 184, int32_t, "int")              \
  X(rc_mode, 188, int32_t, "int")                     \
  X(bvop_auto, 192, int32_t, "int")                   \
  X(bvop_count, 196, int32_t, "int")                  \
  X(scene_change, 200, int32_t, "int")                \
  X(max_key_interval, 204, int32_t, "int")            \
  X(max_bitrate, 208, int32_t, "int")                 \
  X(vbv_buffer, 212, int32_t, "int")                  \
  X(write_vbv_params, 216, int32_t, "int")            \
  X(frame_rate, 332, double, "dbl")                   \
  X(out_fps, 340, int32_t, "int")                     \
  X(h263_mode, 352, int32_t, "int")                   \
  X(data_partitioned, 356, int32_t, "int")            \
  X(resync_marker, 360, int32_t, "int")               \
  X(slice_count, 364, int32_t, "int")                 \
  X(closed_gov, 368, int32_t, "int")                  \
  X(vol_every_i_vop, 372, int32_t, "int")             \
  X(user_data_low_delay, 376, int32_t, "int")         \
  X(pixel_aspect_ratio, 380, int32_t, "int")          \
  X(pixel_ar_width, 384, int32_t, "int")              \
  X(pixel_ar_height, 388, int32_t, "int")             \
  X(gov_every_i_vop, 396, int32_t, "int")             \
  X(h263_unrestricted_mv, 400, int32_t, "int")        \
  X(h263_advanced_intra_coding, 404, int32_t, "int")  \
  X(h263_deblocking_filter, 408, int32_t, "int")      \
  X(h263_slice_structured, 412, int32_t, "int")       \
  X(h263_modified_quantization, 416, int32_t, "int")  \
  X(me_4mv, 508, int32_t, "int")                      \
  X(me_subpel, 512, int32_t, "int")                   \
  X(me_f_code, 516, int32_t, "int")                   \
  X(rounding_control, 520, int32_t, "int")            \
  X(me_fast, 524, int32_t, "int")                     \
  X(me_extended_predictors, 528, int32_t, "int")      \
  X(ac_prediction, 644, int32_t, "int")               \
  X(send_b_vop_mode, 712, int32_t, "int")             \
  X(calc_quality, 724, int32_t, "int")                \
  X(num_threads, 728, int32_t, "int")                

/* The number of entries of MP4V_SETTINGS_FIELDS. */
#define MP4V_SETTINGS_COUNT 56
/* The section every key belongs to. */
#define MP4V_SETTINGS_SECTION "MP4V Settings"

/* ---- The function table ------------------------------------------------ */

/* Writes information item `item` (1 to 5) to the start of `buffer`, exactly
 * the bytes listed above and nothing after them. The caller provides room
 * (MP4V_INFO_MAX_BYTES covers every item). Returns MP4V_STATUS_OK, or
 * MP4V_STATUS_FAILED without writing anything when `buffer` is null or
 * `item` is not 1 to 5. */
typedef int32_t(MP4V_CDECL *MP4VConfigGetInfoFn)(uint32_t item, void *buffer);

/* File names, for the load and the save request: an 8-bit, zero-terminated
 * path ending in ".cfg" or ".ini" (exactly, in lower case), passed to the
 * system unchanged. On Windows it is in the process's ANSI code page, as the
 * "A" file functions take it: a name that code page cannot hold cannot be
 * used (a host whose manifest selects the UTF-8 code page passes UTF-8); on
 * Linux it is bytes. Both requests accept every name the system lets the
 * host create, up to its path length limit (MAX_PATH for the ANSI
 * functions, PATH_MAX and 255-byte names on Linux).
 *
 * Load request: fills the fields of `settings` from the keys of the section
 * "MP4V Settings" of the file `file_name` (section and keys match without
 * regard to ASCII case; of a key given twice the first wins), leaving the
 * fields whose keys the file lacks as they were, then snaps a frame rate of
 * about 23.976, 29.97 or 59.94 to 24/1.001, 30/1.001 or 60/1.001 (also when
 * the file gave none). An integer's text is read as decimal, or as
 * hexadecimal after "0x"; text after the number is ignored, no digits give
 * 0, and a number beyond the 32-bit range gives the nearest bound ("1e3" is
 * 1). The frame rate's text is a decimal number, exponent allowed; "inf",
 * "nan" and "0x" forms are read as 0. The file is never written. A load
 * during a save of the same file reads the old text or the new one, whole.
 *
 * Returns MP4V_STATUS_OK when it read the file (also when the file is
 * empty or holds no setting), and when there is no file or no folder of
 * that name: then it loads nothing but the snapping. Returns
 * MP4V_STATUS_FAILED, with the record untouched (not even snapped), when
 * `settings` or `file_name` is null, the name does not end in one of those
 * extensions, or something exists under the name that the load could not
 * read: a file it may not read, one another program holds without sharing
 * it (on Windows it is waited for, up to about 2 seconds), an I/O error,
 * UTF-16 text, memory running out, and a folder of that name (not a file,
 * so nothing a host may save over either). So save only after a load that
 * returned MP4V_STATUS_OK: a record a failed load left holds the host's
 * defaults, not the file's settings, and a save would write them over the
 * person's.
 * The calling thread's last error (GetLastError() on Windows, errno on
 * Linux) says what the load met, as its last step: 0 when the file was
 * read; otherwise
 *   name or argument refused (FAILED)     ERROR_INVALID_NAME / EINVAL
 *   no such file (OK)                     ERROR_FILE_NOT_FOUND / ENOENT
 *   no such folder (OK)                   ERROR_PATH_NOT_FOUND / ENOENT
 *                                         (ENOTDIR where a part is a file)
 *   no permission (FAILED)                ERROR_ACCESS_DENIED / EACCES
 *   a folder of that name (FAILED)        ERROR_ACCESS_DENIED / EISDIR
 *   held by another program (FAILED)      ERROR_SHARING_VIOLATION
 *   UTF-16 text, a byte-order mark        ERROR_INVALID_DATA / EILSEQ
 *   (FAILED)
 *   memory ran out (FAILED)               ERROR_NOT_ENOUGH_MEMORY / ENOMEM
 *   any other failure to read (FAILED)    the system's code (EIO, ...) */
typedef int32_t(MP4V_CDECL *MP4VConfigLoadFn)(MP4VSettings *settings,
                                              const char *file_name);

/* Save request: writes the 56 fields into the file `file_name`, changing
 * values in place and adding missing keys at the end of the first section
 * "MP4V Settings". It writes only the settings' lines: a setting's line is
 * written anew only when its value text changes, and every other line of
 * the file keeps its bytes exactly (other sections, headers, "#" comments
 * and lines other programs take as comments, such as ";" ones, lines over
 * 511 characters); line ends become CR LF on Windows
 * and LF elsewhere, and empty lines are dropped but one before each section
 * header. White space (blanks and tabs) around a value or before a comment
 * is layout, not text: a setting's line written anew may change it. A save
 * into a missing or empty file writes the line "# config file" first. A file that begins with a UTF-16 byte-order mark is
 * not 8-bit text and is left as it is (MP4V_STATUS_FAILED). The file is
 * replaced in one step: the new text goes to a temporary file in the same
 * directory, which then takes the file's place, so the file is either fully
 * updated or left exactly as it was, and a reader finds the old file or the
 * new one at every moment, never no file and never a part. This needs a
 * directory in which the
 * process may create a file: a writable file in a read-only directory is not
 * saved. A file with several hard links is replaced by a new file under this
 * name (the other links keep the old text); a symbolic link stays a link and
 * the file it points to is replaced. Integers are written in decimal, the
 * frame rate with exactly ten fraction digits, and a load of what a save
 * wrote gives back every value (the frame rate as rounded to those digits,
 * then snapped: 23.976 is written "23.9760000000", loads as 24/1.001, and
 * the next save writes "23.9760239760"; the longest text, of -DBL_MAX, has
 * 321 characters and is written whole). So a file reads and writes byte for
 * byte once the record holds what a load of it gives.
 * No text holds a frame rate that is infinite or NaN ("inf" and "nan" load
 * as 0), so a save never writes one: the file's frame_rate line stays as it
 * stands when a load takes that very rate from it (an infinity read from
 * "1e400" is saved back as "1e400"); otherwise nothing is written and the
 * save fails. Returns MP4V_STATUS_OK when the file was
 * written; MP4V_STATUS_FAILED when the arguments are refused (as for the load
 * request) or the file could not be written (missing or read-only directory,
 * read-only or unreadable file, UTF-16 text, a frame rate no text holds, full
 * disk). `settings` is only read.
 *
 * What several writers at once get: a save holds a lock of the system for
 * the file, its turn, from its read to its replacement, and every other save
 * of the file by this module, in any thread or process, waits for it (up to
 * 5 seconds); saves of other files never wait for it. On Linux the lock is
 * a write lock on the file itself (fcntl F_OFD_SETLK), which only a process
 * that may write the file can hold and a forked child does not keep; on
 * Windows the named mutex "Global\demo_config_mp4v.save." and a hash of
 * the file's final path, which every account may open. The README's "What
 * other programs must do" says how another program takes the same turn. It
 * leaves no file behind and dies with its process.
 * Just before the replacement the save reads the file again: when another
 * program changed it meanwhile, the save builds its text again from the new
 * bytes, up to 8 times, so what that program wrote stays. On Linux the
 * replacement swaps the two files (renameat2 with RENAME_EXCHANGE) and looks
 * at the file it displaced: another program's file put in place meanwhile
 * is swapped back, and a write into the old file, even through a descriptor
 * opened before, is built on in the same way, so no moment remains there.
 * On Windows, and on Linux file systems that cannot swap files, what
 * remains is the moment between that last read and the replacement, the
 * time of one comparison and one system call: a write that lands exactly
 * there is replaced. A save writes the record it is given
 * whole: of two hosts saving different records at once, the later save wins,
 * setting for setting; a host that changes some settings of a record it
 * loaded, while other hosts may change others, uses the update request
 * (MP4V_FUNC_UPDATE) instead. Other programs that share the file need to do
 * nothing to keep their writes, beyond writing the file in one step: replace
 * it with a file of their own, or write it where it stands in one write and
 * then check that the name still leads to the file they wrote. On Windows a
 * save waits, up to about 2 seconds, for another program that holds the file
 * without sharing it (an editor, an indexer, a virus scanner), and then
 * fails with ERROR_SHARING_VIOLATION.
 *
 * Why a save failed: after MP4V_STATUS_FAILED the calling thread's last error
 * (GetLastError() on Windows, errno on Linux) holds the reason, set as the
 * request's last step. ERROR_INVALID_NAME / EINVAL: the arguments were
 * refused. Otherwise the system's code of the step that failed, or where the
 * module itself refuses, the code the system gives for the same thing:
 *   the file is read-only                 ERROR_ACCESS_DENIED / EACCES
 *   its folder does not exist             ERROR_PATH_NOT_FOUND / ENOENT
 *                                         (ENOTDIR where a part is a file)
 *   another program holds it (Windows)    ERROR_SHARING_VIOLATION
 *   a folder of the file's name           ERROR_ACCESS_DENIED / EISDIR
 *   it cannot be read (no permission)     what reading it gave: usually
 *                                         ERROR_ACCESS_DENIED / EACCES
 *   no file may be created in its folder  ERROR_ACCESS_DENIED / EACCES
 *                                         (EROFS: a read-only file system)
 *   the disk is full, a write fails       the write's code: ERROR_DISK_FULL
 *                                         / ENOSPC (EFBIG past a file size
 *                                         limit)
 *   UTF-16 text (a byte-order mark)       ERROR_INVALID_DATA / EILSEQ
 *   a frame rate no text holds (above)    ERROR_INVALID_DATA / EDOM
 *   memory ran out                        ERROR_NOT_ENOUGH_MEMORY / ENOMEM
 *   another save held its turn for 5 s    ERROR_LOCK_VIOLATION / EWOULDBLOCK
 *   other programs changed the file       ERROR_BUSY / EBUSY
 *   under 8 tries in a row
 *   the save's text is in place, but      ERROR_OPERATION_ABORTED / ECANCELED
 *   another program wrote into the file
 *   it replaced after the 8th try's last
 *   look, and that write is not in it
 * Any other failure of the system gives its own code. After MP4V_STATUS_OK
 * the last error may have changed all the same: read it only after a
 * failure. */
typedef int32_t(MP4V_CDECL *MP4VConfigSaveFn)(const MP4VSettings *settings,
                                              const char *file_name);

/* Update request (MP4V_FUNC_UPDATE): the save for a host that changed some
 * settings of a record it loaded. `loaded` is the record as the load gave
 * it (the host keeps a copy), `settings` the record as the host wants it.
 * In one turn of the file's saves (the turn a save takes, above) it reads
 * the file, loads it into the fields of `loaded` as a load would (snapping
 * included), puts over that every field in which `settings` differs from
 * `loaded` bit for bit, and writes that record as a save does. Then it
 * hands back, in the 56 fields of `settings`, the record as saved: the
 * host's changes and what other writers put in the file since the host's
 * load (another host's changes, a person's edit). A setting the host did
 * not change is thus never written back over a newer value in the file;
 * one both changed takes the host's value. When another program changes
 * the file during the turn, the record is built again on its bytes, as a
 * save does. So two hosts that each load, change their own settings and
 * update keep each other's changes, and each learns the other's.
 * `settings` and `loaded` may be the same record (nothing changed: the
 * file's settings are written back as a load gives them, the missing ones
 * added). A setting the host did not change is written as a load of the
 * file gives it, so its line stays as it is, but for a frame rate the
 * load snaps.
 * Results and last errors: those of the save request, for the same causes,
 * and MP4V_STATUS_FAILED with ERROR_INVALID_NAME / EINVAL for a null
 * `loaded`. After MP4V_STATUS_FAILED `settings` is untouched and the file
 * is as the last writer left it. Only the 56 fields of `settings` are
 * written, and only after success; `loaded` is only read. */
typedef int32_t(MP4V_CDECL *MP4VConfigUpdateFn)(MP4VSettings *settings,
                                                const MP4VSettings *loaded,
                                                const char *file_name);

/* The library's one export. Returns the function for `function_id` (one of
 * the MP4V_FUNC_* values, cast to the matching type above), or null for any
 * other identifier. Identifiers 1, 0x2001, 0x2002 and 0x2004 give the same
 * address on every call and have no side effect. */
typedef void *(MP4V_CDECL *MP4VConfigGetAPIExtFn)(uint32_t function_id);

/* The exported name, for GetProcAddress / dlsym. */
#define MP4V_CONFIG_GET_API_EXT_NAME "MP4VConfigGetAPIExt"

/* ---- The settings pages ---------------------------------------------------
 * "demo_config_gui_mp4v.dll" (Windows only) shows the 56 settings to a person
 * as property pages and edits the host's record. Its one export, reached
 * through MP4V_FUNC_SETTINGS_PAGES or by name, has this type:
 *
 *   int32_t showMP4VEncoderPages(void *owner_window, MP4VSettings *settings);
 *
 * `owner_window` is the window (HWND) the pages belong to, or null for none.
 * The pages are modal to its top-level window (the owner itself, or the
 * top-level window a child window such as a button belongs to): that window
 * is disabled while they are shown and enabled again before the call
 * returns. The pages open with the record's current values. On/off settings
 * are check boxes; one whose field holds a value other than 0 and 1 shows
 * the third state and keeps that value unless the person clicks the box,
 * which stores 1 or 0. Every other integer is an edit field that takes
 * decimal or 0x hexadecimal within its own range (no negative numbers for
 * sizes, rates, counts, intervals, quantizers, threads and buffer sizes;
 * width and height 1 to 8191). The frame rate takes a positive number or a
 * fraction such as 30000/1001; a rate a load would snap (about 23.976, 29.97
 * or 59.94) is stored as 24/1.001, 30/1.001 or 60/1.001, and a rate a file
 * would hold as 0 (below 0.0000000001) is refused. OK checks every field the
 * person changed and refuses while one is bad, bringing its page forward and
 * saying what is wrong; once all are good the 56 fields are written at once,
 * and no other byte of the record. A field the person left as shown keeps
 * its bytes exactly, whatever it holds.
 *
 * Results: MP4V_PAGES_OK, MP4V_PAGES_CANCELLED or MP4V_PAGES_FAILED below.
 * Note that they differ from the status values of the other functions
 * (MP4V_STATUS_OK is 0): here 1 is OK, 0 cancelled and -1 failed.
 *
 * One sheet at a time in a process: a call made while the pages are open
 * (from another thread, or from the host's own window while the pages run
 * their message loop, e.g. a second click on an unowned host's button)
 * shows no second sheet. It brings the open sheet to the front and returns
 * MP4V_PAGES_FAILED at once, its record untouched. Make that call through
 * the address already in hand: a new MP4V_FUNC_SETTINGS_PAGES request while
 * a sheet is open frees the library that is showing it.
 *
 * The pages speak the UI language of the calling thread (GetThreadUILanguage:
 * the user's, unless the host set one for its thread with
 * SetThreadUILanguage): German for German, English for every other
 * language. Numbers keep the decimal point in every language.
 *
 * The pages look the same in every host: the library carries its own
 * manifest (resource 2, Common Controls 6) and activates it around the
 * sheet, so a host without a manifest gets the modern controls too.
 *
 * The call keeps no state between calls and may be made again and again once
 * the pages have closed. It reads no file, writes none and never loads the
 * configuration module: editing the record is all it does. Threads: call it
 * from a thread that may own windows (it runs a message loop on the calling
 * thread until the pages close); one call at a time per record, and the
 * record must not change during the call. */
#define MP4V_SHOW_ENCODER_PAGES_NAME "showMP4VEncoderPages"

/* OK was pressed: all 56 fields were written at once. */
#define MP4V_PAGES_OK 1
/* Cancel, Escape or the close box: the record is byte for byte unchanged. */
#define MP4V_PAGES_CANCELLED 0
/* A null record, an owner that is not a window, a sheet already open in the
 * process, or no window could be shown: the record is unchanged. */
#define MP4V_PAGES_FAILED (-1)

typedef int32_t(MP4V_CDECL *MP4VShowEncoderPagesFn)(void *owner_window,
                                                    MP4VSettings *settings);

#ifdef __cplusplus
} /* extern "C" */
#endif

/* ---- Layout checks: the record agrees with the list, field by field ------ */
#ifdef __cplusplus
#define MP4V_STATIC_ASSERT_(c, m) static_assert(c, m)
#else
#define MP4V_STATIC_ASSERT_(c, m) _Static_assert(c, m)
#endif
#define MP4V_CHECK_FIELD_(field, offset, c_type, type_name)          \
  MP4V_STATIC_ASSERT_(offsetof(MP4VSettings, field) == (offset) &&    \
                          sizeof(((MP4VSettings *)0)->field) ==       \
                              sizeof(c_type),                         \
                      #field " lies at offset " #offset);
#define MP4V_COUNT_FIELD_(field, offset, c_type, type_name) +1
MP4V_SETTINGS_FIELDS(MP4V_CHECK_FIELD_)
MP4V_STATIC_ASSERT_((0 MP4V_SETTINGS_FIELDS(MP4V_COUNT_FIELD_)) ==
                        MP4V_SETTINGS_COUNT,
                    "one list entry per field");
MP4V_STATIC_ASSERT_(sizeof(MP4VSettings) == 732, "the record is 732 bytes");
#undef MP4V_COUNT_FIELD_
#undef MP4V_CHECK_FIELD_
#undef MP4V_STATIC_ASSERT_

#endif /* MP4V_CONFIG_H_ */
