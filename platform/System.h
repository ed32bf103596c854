// Operating-system services: pause and clock, the single-instance guard, the
// screen query and mode change, opening a document, and termination signals.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The system's text for an error code (an errno value), as strerror gives it;
// safe on any thread. Every reason the program shows for a code comes from here.
std::string SysErrorText(int code);

// Pauses the calling thread.
void Delay(double seconds);

// Local time and date from the system clock.
void GetSystemTime(int* hours, int* minutes, int* seconds);
void GetSystemDate(int* month, int* day, int* year);

// Monotonic milliseconds, for benchmarks and diagnostics.
double SysMonotonicMs();

// Local date and time to the millisecond, with the zone's offset from UTC in
// force at that moment (minutes east of Greenwich).
struct SysLocalTime {
    int year, month, day, hour, minute, second, millisecond;
    int utcOffsetMinutes;
};
void SysGetLocalTime(SysLocalTime* t);
// The same fields for a moment given in milliseconds since 1970 (UTC).
void SysLocalTimeAt(int64_t epochMs, SysLocalTime* t);

// System-wide named guard. Returns 0 with a handle (> 0) in *handle when this
// process took it, EEXIST when another process holds it, else the errno.
int SysCreateNamedGuard(const char* name, int* handle);
void SysCloseNamedGuard(int handle);
// The holder of a guard hears another process knock at it: onKnock runs on the
// user-interface thread, from the event loop. 0, or an errno.
int SysWatchNamedGuard(int handle, void (*onKnock)());
// Knocks at the guard of that name, held by another process: 0, or an errno
// (ECONNREFUSED when nobody holds it or the holder does not listen).
int SysKnockNamedGuard(const char* name);

// Current mode of the display the program's window goes to, in device pixels
// (a screen scaled to 200 % still counts its real pixels); 0, or ENODEV when
// there is no screen.
int SysGetScreenMode(int* width, int* height, int* bitsPerPixel, int* refreshRate);
// Requests a temporary display mode: the mode of that size whose refresh rate
// is nearest the one given. SysRestoreScreenMode brings back exactly the mode
// that was there before. Returns 0, or ENODEV (no lit output), EINVAL (no mode
// of that size) or EIO (the change was refused).
int SysChangeScreenModeTemporary(int width, int height, int bitsPerPixel, int refreshRate);
void SysRestoreScreenMode();

// The display outputs as "xrandr --verbose --current" describes them; the
// screen functions above work from it under X.
struct SysDisplayMode {
    std::string id; // the server's mode id, e.g. "0x48": names one timing exactly
    int width = 0;
    int height = 0;
    double rate = 0; // Hz
};
struct SysDisplayOutput {
    std::string name;
    bool primary = false;
    int width = 0; // on screen, as rotated; 0 when the output is off
    int height = 0;
    std::string currentMode; // id, empty when the output is off
    std::vector<SysDisplayMode> modes;
    const SysDisplayMode* Mode(const std::string& id) const;
};
std::vector<SysDisplayOutput> SysParseXrandr(const std::string& text);
// The lit output named, else the primary one, else the first lit one; nullptr if none is lit.
const SysDisplayOutput* SysPickOutput(const std::vector<SysDisplayOutput>& outputs,
                                      const std::string& name);
// The output's mode of that size with the rate nearest `rate`; nullptr if it has none.
const SysDisplayMode* SysPickMode(const SysDisplayOutput& output, int width, int height,
                                  double rate);

// Opens a document with its default viewer: 0, or ENOENT when there is no such
// file, EIO when the desktop would not open it (no program on it can show the
// file). A relative path is taken in the working folder.
int SysOpenDocument(const char* path);
// 1 when the file exists and the desktop names a default viewer for its type
// (xdg-mime), else 0: a file type nobody has registered would otherwise land in
// whatever the desktop falls back to, often a browser that offers a download.
int SysHasDocumentViewer(const char* path);
// Test seam: when set, documents go to the opener (with their absolute path)
// instead of the desktop, and its result (0 or an errno) is the result;
// nullptr restores the desktop.
void SysSetDocumentOpener(int (*opener)(const char* absolutePath));
// The base name of the program's desktop entry, which desktops use to match its
// windows to the entry's name and icon. Call before the user interface starts.
void SysSetDesktopEntryName(const char* name);

// SIGTERM and SIGINT call the handler on the user-interface thread, from the
// event loop.
void SysOnTerminationSignal(void (*handler)());
