// Operating-system services: pause and clock, the single-instance guard, the
// screen query and mode change, opening a document, and termination signals.
#pragma once

// Pauses the calling thread.
void Delay(double seconds);

// Local time and date from the system clock.
void GetSystemTime(int* hours, int* minutes, int* seconds);
void GetSystemDate(int* month, int* day, int* year);

// Monotonic milliseconds, for benchmarks and diagnostics.
double SysMonotonicMs();

// System-wide named guard. Returns a handle (> 0) when this process took it,
// 0 when another process holds it, a negative number on error.
int SysCreateNamedGuard(const char* name, int* alreadyExists);
void SysCloseNamedGuard(int handle);

// Current width and height of the screen the program runs on; 0 on success.
int SysGetScreenMode(int* width, int* height, int* bitsPerPixel, int* refreshRate);
// Requests a temporary display mode; restored by SysRestoreScreenMode or when
// the program ends. Returns 0 on success, negative on failure.
int SysChangeScreenModeTemporary(int width, int height, int bitsPerPixel, int refreshRate);
void SysRestoreScreenMode();

// Opens a document with its default viewer; 0 on success.
int SysOpenDocument(const char* path);

// SIGTERM and SIGINT call the handler on the user-interface thread, from the
// event loop.
void SysOnTerminationSignal(void (*handler)());
