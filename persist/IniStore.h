// The in-memory INI text store: one file as an ordered list of sections, each an
// ordered list of items, read from and written back to disk. Works on raw bytes and
// is double-byte aware for GBK (lead bytes 0x81..0xFE) in every scan and every cut.
// Every call takes the store by pointer; a null store (or another null pointer where
// a text or destination is needed) gives INI_ERR_NULL_STORE.
#pragma once

#include <cstdint>

struct IniStore;
struct LineFile;

// Status codes; 0 or more is success.
enum {
    INI_ERR_OUT_OF_MEMORY = -12,
    INI_ERR_NULL_STORE = -65,
    INI_ERR_PATH = -91,   // the target path cannot be examined
    INI_ERR_IO = -93,     // any other input/output error while writing
    INI_ERR_ACCESS = -95, // the target cannot be written, or access denied
    INI_ERR_DISK_FULL = -97,
    INI_ERR_OPEN = -5001, // the file cannot be opened for reading
    INI_ERR_READ = -5002,
    INI_ERR_NO_TEMP_NAME = -5003,
    INI_ERR_TEMP_CREATE = -5004,
    INI_ERR_NOT_INTEGER = -5021,
};

// Longest physical line kept by the reader; longer lines are cut.
constexpr int INI_MAX_LINE = 255;
// Longest value written on one line; longer values become continuation lines.
constexpr int INI_MAX_VALUE_PER_LINE = 80;

// Returns a new empty store with the tokens "[", "]", "=", ";", or null when memory
// runs out. autoSort is kept for the record; nothing is ever sorted.
IniStore* Ini_New(int autoSort);
void Ini_Dispose(IniStore* store);

// Appends the sections and items of the file to the store. On failure errno
// holds the system's reason (ENOENT: there is no such file).
int Ini_ReadFromFile(IniStore* store, const char* path);
// Replaces the file with the whole store; the old file stays intact on any failure,
// and errno then holds the system's reason.
int Ini_WriteToFile(IniStore* store, const char* path);

int Ini_PutInt(IniStore* store, const char* section, const char* item, int32_t value);
// Puts a text that reads back as given by Ini_GetRawStringIntoBuffer.
int Ini_PutString(IniStore* store, const char* section, const char* item, const char* value);
// 1 found and valid, 0 absent, INI_ERR_NOT_INTEGER; the destination changes only on 1.
int Ini_GetInt(IniStore* store, const char* section, const char* item, int32_t* value);
// Copies the raw value (at most bufferSize - 1 bytes, never half a character):
// 1 found, 0 absent (buffer empty).
int Ini_GetRawStringIntoBuffer(IniStore* store, const char* section, const char* item, char* buffer,
                               int bufferSize);

// A zero byte or an empty or null text leaves that token as it is; texts are cut
// to 7 bytes.
int Ini_SetTokens(IniStore* store, char sectionStart, char sectionEnd, const char* separator,
                  const char* commentMarker);

// Line source: fills lineBuffer (maxBytes bytes plus a NUL), sets *endOfInput when
// there are no more lines and *lineNumber to the number of the line; a negative
// status stops the read.
using IniLineSourceFn = int (*)(void* context, char* lineBuffer, int maxBytes, int* endOfInput,
                                int* lineNumber);
int Ini_ReadGeneric(IniStore* store, IniLineSourceFn source, void* context);

// Line sink: receives one line without its line end; a negative status stops the write.
using IniLineSinkFn = int (*)(void* context, const char* line);
int Ini_WriteGeneric(IniStore* store, IniLineSinkFn sink, void* context);

// File line number of the item most recently found by a get; -1 before any.
int Ini_LineOfLastAccess(IniStore* store);

// ---- buffered line reader ------------------------------------------------------
// Byte source: fills up to count bytes and returns how many (0 at the end), or a
// negative status on a read error.
using LineFileByteSourceFn = int (*)(void* context, char* buffer, int count);

LineFile* LineFile_New(LineFileByteSourceFn source, void* context);
// Reads one line into buffer (maxBytes bytes plus a NUL). CR, LF and NUL end a line;
// CR LF and LF CR count as one line end. At the end of input sets *endOfInput and
// returns an empty line. Returns 0, or the source's negative status.
int LineFile_Read(LineFile* reader, char* buffer, int maxBytes, int* bytesRead, int* endOfInput);
int LineFile_NumLinesRead(LineFile* reader);
void LineFile_Dispose(LineFile* reader);

// ---- byte-text helpers -----------------------------------------------------------
// Copies at most destSize - 1 bytes and a NUL, never ending on the first byte of a
// double-byte character. Returns the number of bytes copied.
int StringCopyMax(char* dest, const char* source, int destSize);
// Strict decimal 32-bit integer: blanks, one sign glued to the digits, digits,
// blanks. 1 and the number in *value on success, 0 (value untouched) otherwise.
int StrToInt(const char* text, int32_t* value);
