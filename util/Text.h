// Small text jobs that several rooms share: fixed-decimal numbers, blanks
// trimmed, CSV fields and rows, the one time stamp the program writes, and
// dated default file names. None of them follows the C library's locale, so a
// file or a client always sees "230.0".
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

struct SysLocalTime;

// value / 10^decimals written out: TextFixed(2300, 1) is "230.0", TextFixed(-5, 3)
// is "-0.005", TextFixed(7, 0) is "7".
std::string TextFixed(int64_t value, int decimals);

// The text without spaces and tabs at either end.
std::string TextTrim(const std::string& text);

// Whether text ends in tail, letters compared without case (".52p" ends in ".52P").
bool TextEndsWithNoCase(const std::string& text, const std::string& tail);

// Values for the "{name}" marks of a text.
using TextValues = std::initializer_list<std::pair<const char*, std::string>>;
// Replaces each "{name}" in text by its value in one pass: a value is never
// searched again, so a path holding "{reason}" stays as it is. A mark with no
// value stays. The language files hold texts with these marks, so nothing read
// from a file is used as a format.
std::string TextFillIn(const std::string& text, TextValues values);

// A field as CSV readers take it back: quoted when it holds a comma, a quote or a
// line end, inner quotes doubled.
std::string TextCsvField(const std::string& text);
// Fields quoted where needed, joined by commas, ending in a line feed.
std::string TextCsvRow(const std::vector<std::string>& fields);

// "2026-12-08T14:03:12.345+08:00": ISO 8601, local time with milliseconds and
// the offset from UTC ("+00:00" for UTC).
std::string TextTimeStamp(const SysLocalTime& t);
// The same for the present moment.
std::string TextTimeStampNow();
// The clock time alone, for a window: "14:03:12", or "14:03:12.345" with milliseconds.
std::string TextClock(const SysLocalTime& t, bool milliseconds);

// "<prefix>-YYYYMMDD-HHMMSS<extension>" for the given local time, the form of
// every default file name the program offers ("Vx52Log-20261208-140312.csv").
std::string TextDatedName(const char* prefix, const SysLocalTime& t, const char* extension);
// The same for the present moment.
std::string TextDatedNameNow(const char* prefix, const char* extension);
