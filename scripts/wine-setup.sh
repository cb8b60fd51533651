#!/usr/bin/env bash
# Prepare a Debian 12 (amd64) machine to run 32-bit mingw-built test
# programs under Wine, quickly and without debugger pop-ups.
#
#   eval "$(scripts/wine-setup.sh)"                # set up, then import the env
#   scripts/wine-setup.sh --env-file build/wine.env  # also write the exports to a file
#
# Idempotent: every step checks first and is skipped when already done.
# Progress goes to stderr; only the export lines go to stdout.
#
# When the kernel cannot run i386 ELF binaries (e.g. booted with
# ia32_emulation off) Wine runs under qemu-user.  Stock qemu 7.2 needs two
# fixes for that, so a patched qemu-i386 is built once from the Debian
# source package:
#   * each guest thread gets its own GDT (otherwise set_thread_area() in one
#     thread changes every thread's %gs/%fs: multi-threaded programs
#     corrupt their TLS and crash or hang);
#   * signal frames report the x86 trap number (otherwise Wine reports every
#     access violation as an illegal instruction).
# A small LD_PRELOAD library for the 32-bit Wine loader makes
# MAP_FIXED_NOREPLACE fail with EEXIST as the kernel does; without it each
# Wine process spends about a minute probing the address space.
#
# Environment knobs: WINEPREFIX (default $HOME/.wine-test32),
# WINE_QEMU_DIR (default /usr/local/lib/wine-qemu), WINE_SETUP_FORCE_QEMU=1
# (take the qemu-user way even where i386 runs natively: to try that way on
# any machine; it registers the emulator for every i386 program until
# `echo -1 > /proc/sys/fs/binfmt_misc/qemu-i386-wine`).
set -euo pipefail

PREFIX=${WINEPREFIX:-$HOME/.wine-test32}
QEMU_DIR=${WINE_QEMU_DIR:-/usr/local/lib/wine-qemu}
OVERRIDES="mscoree,mshtml=;winemenubuilder.exe,winedbg.exe=d"
ENV_FILE=""

# What makes the qemu-i386 binary: Debian's qemu 7.2 source, these two fixes
# and this configure line. The STAMP beside the binary is a hash of all of
# it, so a machine whose qemu-i386 was built any other way rebuilds it once.
# Extended attributes must be on: Wine keeps a file's DOS attributes (hidden,
# system, ...) in them, and without them it silently keeps none.
QEMU_CONFIGURE=(--target-list=i386-linux-user --static --without-default-features
                --enable-attr --disable-system --disable-tools --disable-docs --disable-werror)
QEMU_PATCH=$(cat <<'EOF'
--- a/linux-user/syscall.c
+++ b/linux-user/syscall.c
@@ -6649,6 +6649,24 @@
         cpu_clone_regs_parent(env, flags);
         new_cpu = env_cpu(new_env);
         new_cpu->opaque = ts;
+#if defined(TARGET_I386) && !defined(TARGET_X86_64)
+        /*
+         * The kernel keeps the TLS descriptors of the GDT per thread, but
+         * cpu_copy() leaves the child pointing at the parent's table.  A
+         * shared table means set_thread_area() in one thread changes what
+         * every other thread gets on its next %fs/%gs reload (glibc TLS,
+         * Wine's TEB), so give the child its own copy.
+         */
+        {
+            size_t gdt_size = sizeof(uint64_t) * TARGET_GDT_ENTRIES;
+            abi_long gdt = target_mmap(0, gdt_size, PROT_READ | PROT_WRITE,
+                                       MAP_ANONYMOUS | MAP_PRIVATE, -1, 0);
+            if (gdt != -1) {
+                memcpy(g2h_untagged(gdt), g2h_untagged(env->gdt.base), gdt_size);
+                new_env->gdt.base = gdt;
+            }
+        }
+#endif
         ts->bprm = parent_ts->bprm;
         ts->info = parent_ts->info;
         ts->signal_mask = parent_ts->signal_mask;
--- a/linux-user/i386/cpu_loop.c
+++ b/linux-user/i386/cpu_loop.c
@@ -310,7 +310,17 @@
                       trapnr);
             abort();
         }
+        /*
+         * cpu_exec() has already cleared exception_index, so the signal
+         * frame would report trapno -1.  Put the x86 vector back while the
+         * frame is built, as the kernel does; Wine decides between access
+         * violation and illegal instruction from it.
+         */
+        if (trapnr >= 0 && trapnr < 32) {
+            cs->exception_index = trapnr;
+        }
         process_pending_signals(env);
+        cs->exception_index = -1;
     }
 }
 
EOF
)
QEMU_STAMP="debian-7.2 $(printf '%s\n' "$QEMU_PATCH" "${QEMU_CONFIGURE[*]}" | sha256sum | cut -c1-16)"

while [ $# -gt 0 ]; do
    case "$1" in
        --env-file) ENV_FILE=$2; shift 2 ;;
        -h|--help) sed -n '2,9p' "$0"; exit 0 ;;
        *) echo "unknown argument: $1" >&2; exit 2 ;;
    esac
done

log() { echo "wine-setup: $*" >&2; }
die() { log "error: $*"; exit 1; }
# shellcheck source=apt.sh
. "$(dirname "$0")/apt.sh"
[ "$(id -u)" = 0 ] || die "run as root"
[ "$(dpkg --print-architecture)" = amd64 ] || die "expects an amd64 host"

export DEBIAN_FRONTEND=noninteractive
APT_UPDATED=0
apt_install() {
    local missing=() p
    for p in "$@"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    if [ $APT_UPDATED = 0 ]; then apt_update; APT_UPDATED=1; fi
    log "installing ${missing[*]}"
    apt_get install -y -qq --no-install-recommends "${missing[@]}" >&2
}

# ---------------------------------------------------------------- packages
if ! dpkg --print-foreign-architectures | grep -qx i386; then
    log "enabling i386 multiarch"
    dpkg --add-architecture i386
    APT_UPDATED=0
fi
apt_install wine wine32:i386 gcc libc6-dev

WORK=$(mktemp -d /tmp/wine-setup.XXXXXX)
trap 'rm -rf "$WORK"' EXIT

# ------------------------------------------------- can i386 ELF run natively?
BINFMT=/proc/sys/fs/binfmt_misc
if [ ! -e $BINFMT/register ]; then
    mount -t binfmt_misc binfmt_misc $BINFMT 2>/dev/null || true
fi
I386_MAGIC='7f454c4601010100000000000000000002000300'

i386_handlers() {   # enabled binfmt entries that claim i386 ELF executables
    local f
    for f in "$BINFMT"/*; do
        case "$(basename "$f")" in register|status) continue ;; esac
        grep -qx enabled "$f" 2>/dev/null && grep -q "^magic $I386_MAGIC" "$f" && echo "$f"
    done
    return 0
}

cat > "$WORK/probe.S" <<'EOF'
    .globl _start
_start:
    movl $1, %eax       # exit(42) through the i386 syscall gate
    movl $42, %ebx
    int $0x80
EOF
gcc -m32 -nostdlib -static -o "$WORK/probe32" "$WORK/probe.S"

NATIVE=0
handlers=$(i386_handlers)
for h in $handlers; do echo 0 > "$h"; done      # keep qemu out of the probe
set +e; "$WORK/probe32" 2>/dev/null; rc=$?; set -e
for h in $handlers; do echo 1 > "$h"; done
[ $rc = 42 ] && [ "${WINE_SETUP_FORCE_QEMU:-0}" != 1 ] && NATIVE=1
log "native i386 execution: $([ $NATIVE = 1 ] && echo yes || echo no)"

# ------------------------------------------------------ qemu-user fallback
PRELOAD=""
REBUILT=0
if [ $NATIVE = 0 ]; then
    if [ "$(cat "$QEMU_DIR/STAMP" 2>/dev/null)" != "$QEMU_STAMP" ] || [ ! -x "$QEMU_DIR/qemu-i386" ]; then
        log "building patched qemu-i386 (one-off, ~5 min)"
        apt_install dpkg-dev patch make pkg-config python3 meson ninja-build \
                    libglib2.0-dev libpcre2-dev zlib1g-dev
        # Debian's qemu source. Where the machine's own lists hold no source
        # index, a source list and lists of this run's own in $WORK (opened
        # to apt's download user, which fetches into lists/partial) fetch
        # it: nothing is added to /etc/apt, and the machine's package lists
        # are not fetched again.
        src_config=""
        if [ -z "$(apt-cache showsrc qemu 2>/dev/null | head -1)" ]; then
            chmod 755 "$WORK"
            mkdir -p "$WORK/apt/lists/partial" "$WORK/apt/sources.list.d"
            cat > "$WORK/apt/sources.list" <<'EOF'
deb-src [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] http://deb.debian.org/debian bookworm main
deb-src [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] http://deb.debian.org/debian bookworm-updates main
EOF
            printf 'Dir::Etc::SourceList "%s";\nDir::Etc::SourceParts "%s";\nDir::State::Lists "%s";\n' \
                "$WORK/apt/sources.list" "$WORK/apt/sources.list.d" "$WORK/apt/lists" > "$WORK/apt/apt.conf"
            src_config=$WORK/apt/apt.conf
            APT_CONFIG=$src_config apt_update
        fi
        (cd "$WORK" && if [ -n "$src_config" ]; then export APT_CONFIG=$src_config; fi &&
            apt_get source -qq qemu >&2)
        src=$(find "$WORK" -maxdepth 1 -type d -name 'qemu-*' | head -1)
        [ -n "$src" ] || die "qemu source not unpacked"
        printf '%s\n' "$QEMU_PATCH" | patch -d "$src" -p1 >&2
        mkdir -p "$src/build"
        (cd "$src/build" && ../configure "${QEMU_CONFIGURE[@]}" >&2 && ninja qemu-i386 >&2)
        mkdir -p "$QEMU_DIR"
        strip -o "$QEMU_DIR/qemu-i386.new" "$src/build/qemu-i386"
        mv -f "$QEMU_DIR/qemu-i386.new" "$QEMU_DIR/qemu-i386"
        echo "$QEMU_STAMP" > "$QEMU_DIR/STAMP"
        REBUILT=1
    fi

    shim="$QEMU_DIR/lib/i386-linux-gnu/libwine-noreplace.so"
    if [ ! -f "$shim" ]; then
        log "building the MAP_FIXED_NOREPLACE shim"
        mkdir -p "$QEMU_DIR/lib/i386-linux-gnu" "$QEMU_DIR/lib/x86_64-linux-gnu"
        cat > "$WORK/noreplace.c" <<'EOF'
/* Give MAP_FIXED_NOREPLACE its kernel meaning (fail with EEXIST instead of
 * mapping somewhere else) for 32-bit Wine under qemu-user, which treats the
 * flag as a plain hint.  Freestanding, so no 32-bit libc headers are needed;
 * syscall() and errno come from the libc the loader already has. */
typedef unsigned int size_t;
extern long syscall(long nr, ...);
extern int *__errno_location(void);

#define SYS_munmap 91
#define SYS_mmap2 192
#define FIXED_NOREPLACE 0x100000
#define FAILED ((void *)-1)

void *mmap64(void *addr, size_t len, int prot, int flags, int fd, long long off)
{
    long r;
    if (off & 4095) { *__errno_location() = 22; return FAILED; }
    r = syscall(SYS_mmap2, addr, len, prot, flags, fd, (long)(off >> 12));
    if ((void *)r == FAILED) return FAILED;
    if ((flags & FIXED_NOREPLACE) && (void *)r != addr)
    {
        syscall(SYS_munmap, r, len);
        *__errno_location() = 17; /* EEXIST */
        return FAILED;
    }
    return (void *)r;
}

void *mmap(void *addr, size_t len, int prot, int flags, int fd, long off)
{
    return mmap64(addr, len, prot, flags, fd, off);
}
EOF
        # 64-bit processes see the same LD_PRELOAD ($LIB expands per ABI), so
        # give them an empty library instead of a loader warning.
        echo 'void wine_noreplace_unused(void) {}' > "$WORK/empty.c"
        gcc -m32 -O2 -shared -fPIC -nostdlib -o "$shim" "$WORK/noreplace.c"
        gcc -O2 -shared -fPIC -nostdlib -o "$QEMU_DIR/lib/x86_64-linux-gnu/libwine-noreplace.so" "$WORK/empty.c"
    fi
    PRELOAD="$QEMU_DIR/\$LIB/libwine-noreplace.so"
    QEMU_STAMP_USED=$QEMU_STAMP

    entry=$BINFMT/qemu-i386-wine
    # The F flag pins the binary opened at registration, so re-register
    # after a rebuild as well as when the path differs.
    if [ -e "$entry" ] && { [ $REBUILT = 1 ] || ! grep -qx "interpreter $QEMU_DIR/qemu-i386" "$entry"; }; then
        echo -1 > "$entry"
    fi
    if [ ! -e "$entry" ]; then
        log "registering $QEMU_DIR/qemu-i386 for i386 ELF"
        echo ":qemu-i386-wine:M::\\x7fELF\\x01\\x01\\x01\\x00\\x00\\x00\\x00\\x00\\x00\\x00\\x00\\x00\\x02\\x00\\x03\\x00:\\xff\\xff\\xff\\xff\\xff\\xfe\\xfe\\x00\\xff\\xff\\xff\\xff\\xff\\xff\\xff\\xff\\xfe\\xff\\xff\\xff:$QEMU_DIR/qemu-i386:F" > $BINFMT/register
    fi
    echo 1 > "$entry"
    for h in $(i386_handlers); do       # e.g. Debian's qemu-i386 from qemu-user-static
        [ "$h" = "$entry" ] || { log "disabling $(basename "$h")"; echo 0 > "$h"; }
    done
fi

# ------------------------------------------------------------ environment
export WINEPREFIX=$PREFIX WINEARCH=win32 WINEDEBUG=-all WINEDLLOVERRIDES=$OVERRIDES
if [ -n "$PRELOAD" ]; then
    case ":${LD_PRELOAD:-}:" in
        *":$PRELOAD:"*) ;;
        *) export LD_PRELOAD="$PRELOAD${LD_PRELOAD:+:$LD_PRELOAD}" ;;
    esac
fi
unset DISPLAY WAYLAND_DISPLAY

# ----------------------------------------------------------------- prefix
# The prefix is keyed by the steps below and by the emulator that ran them:
# a prefix made another way is made again.
PREFIX_STAMP="$(sed -n '/^# ---* prefix$/,/^# ---* persistent server$/p' "$0" | sha256sum | cut -c1-16) ${QEMU_STAMP_USED:-native}"
if [ "$(cat "$PREFIX/.wine-setup-done" 2>/dev/null)" != "$PREFIX_STAMP" ]; then
    t0=$(date +%s)
    log "creating prefix $PREFIX"
    rm -rf "$PREFIX"
    wineboot -i >&2 2>"$WORK/wineboot.log" || { cat "$WORK/wineboot.log" >&2; die "wineboot failed"; }
    # Crashes must end the process, never wait for a debugger or a dialog.
    wine reg add 'HKCU\Software\Wine\DllOverrides' /v winedbg.exe /d '' /f >/dev/null
    wine reg add 'HKCU\Software\Wine\DllOverrides' /v winemenubuilder.exe /d '' /f >/dev/null
    wine reg add 'HKCU\Software\Wine\DllOverrides' /v mscoree /d '' /f >/dev/null
    wine reg add 'HKCU\Software\Wine\DllOverrides' /v mshtml /d '' /f >/dev/null
    wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null
    wine reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug' /v Auto /d 1 /f >/dev/null
    wineserver -w
    # Never re-run wineboot on start-up (it would if wine.inf looks newer).
    echo disable > "$PREFIX/.update-timestamp"
    echo "$PREFIX_STAMP" > "$PREFIX/.wine-setup-done"
    log "prefix ready in $(( $(date +%s) - t0 )) s"
fi

# ------------------------------------------------------ persistent server
# -p keeps wineserver (and services.exe etc.) alive between test runs, so
# each run only pays for its own process.
setsid wineserver -p </dev/null >/dev/null 2>&1 || true
t0=$(date +%s)
set +e; wine cmd.exe /c exit 3 </dev/null >/dev/null 2>&1; rc=$?; set -e
[ $rc = 3 ] || die "smoke test: expected exit code 3, got $rc"
log "wineserver up, smoke test ok ($(( $(date +%s) - t0 )) s)"

exports=$(cat <<EOF
export WINEPREFIX='$WINEPREFIX'
export WINEARCH=win32
export WINEDEBUG=-all
export WINEDLLOVERRIDES='$OVERRIDES'
$( [ -n "$PRELOAD" ] && echo "export LD_PRELOAD='$LD_PRELOAD'" )
EOF
)
if [ -n "$ENV_FILE" ]; then
    mkdir -p "$(dirname "$ENV_FILE")"
    printf '%s\n' "$exports" > "$ENV_FILE"
fi
printf '%s\n' "$exports"
