// Bounded text helpers for both builds. Every writer takes the destination's capacity in characters,
// terminator included, never writes past it, and terminates any destination with room for one
// character; it returns false when the text had to be cut.
//
// The format helpers understand the printf notation the library uses, with the meaning the Windows C
// runtime gives it, so that a format behaves the same in both builds: flags "-+ #0", width and precision
// (digits or '*'), 'h' and 'l' (32 bits, as on Windows) and 'll' (64 bits), conversions d i u x X o c p
// and s. In a wide format %s takes wide text; in a narrow one narrow text; %ws and %ls always take wide
// text and %hs narrow text. Wide text written into narrow output turns every character above 0x7F into '?'.
#pragma once

#include <cstdarg>

#include "platform/platform.h"

size_t ZelStrLen(const WCHAR* text);
size_t ZelStrLenA(const char* text);
bool ZelStrCopy(WCHAR* dest, size_t capacity, const WCHAR* source);
bool ZelStrCopyA(char* dest, size_t capacity, const char* source);
bool ZelStrCat(WCHAR* dest, size_t capacity, const WCHAR* source);
// Compares without regard to case (ASCII and Latin-1 letters).
bool ZelStrEqualNoCase(const WCHAR* a, const WCHAR* b);
// Upper-cases text in place (ASCII and Latin-1 letters), at most capacity characters or to its NUL.
void ZelStrUpper(WCHAR* text, size_t capacity);
// The number at the start of text by the rules of wcstol in base 10: leading white space, an optional
// sign, digits up to the first other character; 0 without digits; the nearest limit when out of range.
LONG ZelParseLong(const WCHAR* text);

bool ZelFormat(WCHAR* dest, size_t capacity, const WCHAR* format, ...);
bool ZelFormatV(WCHAR* dest, size_t capacity, const WCHAR* format, va_list args);
bool ZelFormatA(char* dest, size_t capacity, const char* format, ...);
bool ZelFormatVA(char* dest, size_t capacity, const char* format, va_list args);
