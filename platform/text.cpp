#include "platform/text.h"

namespace {

template <class Char>
size_t Length(const Char* text) {
    size_t n = 0;
    if (text)
        while (text[n]) ++n;
    return n;
}

// Output into a bounded buffer; remembers whether anything was cut.
template <class Char>
struct Sink {
    Char* dest;
    size_t capacity;
    size_t used = 0;
    bool cut = false;

    void Put(unsigned ch) {
        if (used + 1 < capacity) {
            dest[used++] = static_cast<Char>(ch);
        } else {
            cut = true;
        }
    }
    void Repeat(unsigned ch, int count) {
        for (int i = 0; i < count; ++i) Put(ch);
    }
    bool Finish() {
        if (capacity == 0) return false;
        dest[used] = 0;
        return !cut;
    }
};

template <class Char>
bool Copy(Char* dest, size_t capacity, const Char* source, size_t at) {
    if (capacity == 0) return false;
    if (at >= capacity) {
        dest[capacity - 1] = 0;
        return false;
    }
    Sink<Char> sink{dest, capacity, at};
    for (size_t i = 0; source && source[i]; ++i) sink.Put(static_cast<unsigned>(source[i]));
    return sink.Finish();
}

unsigned NarrowOf(unsigned wide) { return wide < 0x80 ? wide : '?'; }

struct Conversion {
    bool left = false, plus = false, space = false, alternate = false, zero = false;
    int width = 0;
    int precision = -1;
    int size = 32;      // integer argument width: 32 or 64
    int text = 0;       // string width: 0 as the format, 1 narrow, 2 wide
};

template <class Char>
void PutNumber(Sink<Char>& sink, const Conversion& conversion, uint64_t magnitude, bool negative, unsigned base, bool upper,
               const char* prefix) {
    char digits[32];
    int n = 0;
    const char* alphabet = upper ? "0123456789ABCDEF" : "0123456789abcdef";
    do {
        digits[n++] = alphabet[magnitude % base];
        magnitude /= base;
    } while (magnitude);
    if (conversion.precision == 0 && n == 1 && digits[0] == '0') n = 0;
    int zeros = conversion.precision > n ? conversion.precision - n : 0;
    const char* sign = negative ? "-" : conversion.plus ? "+" : conversion.space ? " " : "";
    int prefixLength = static_cast<int>(Length(sign) + Length(prefix));
    int body = prefixLength + zeros + n;
    int pad = conversion.width > body ? conversion.width - body : 0;
    bool zeroPad = conversion.zero && !conversion.left && conversion.precision < 0;
    if (!conversion.left && !zeroPad) sink.Repeat(' ', pad);
    for (const char* p = sign; *p; ++p) sink.Put(static_cast<unsigned char>(*p));
    for (const char* p = prefix; *p; ++p) sink.Put(static_cast<unsigned char>(*p));
    if (zeroPad) sink.Repeat('0', pad);
    sink.Repeat('0', zeros);
    while (n) sink.Put(static_cast<unsigned char>(digits[--n]));
    if (conversion.left) sink.Repeat(' ', pad);
}

template <class Char, class From>
void PutText(Sink<Char>& sink, const Conversion& conversion, const From* text) {
    static const From kNull[] = {'(', 'n', 'u', 'l', 'l', ')', 0};
    if (!text) text = kNull;
    size_t n = Length(text);
    if (conversion.precision >= 0 && static_cast<size_t>(conversion.precision) < n) n = static_cast<size_t>(conversion.precision);
    int pad = conversion.width > static_cast<int>(n) ? conversion.width - static_cast<int>(n) : 0;
    if (!conversion.left) sink.Repeat(' ', pad);
    for (size_t i = 0; i < n; ++i) {
        unsigned ch = static_cast<unsigned>(text[i]);
        if constexpr (sizeof(From) == 1) ch &= 0xFF;
        sink.Put(sizeof(Char) == 1 && sizeof(From) > 1 ? NarrowOf(ch) : ch);
    }
    if (conversion.left) sink.Repeat(' ', pad);
}

template <class Char>
bool Format(Char* dest, size_t capacity, const Char* format, va_list args) {
    Sink<Char> sink{dest, capacity};
    if (!format) return sink.Finish();
    for (const Char* p = format; *p; ++p) {
        if (*p != '%') {
            sink.Put(static_cast<unsigned>(*p));
            continue;
        }
        const Char* start = p;
        Conversion conversion;
        for (++p;; ++p) {
            if (*p == '-') conversion.left = true;
            else if (*p == '+') conversion.plus = true;
            else if (*p == ' ') conversion.space = true;
            else if (*p == '#') conversion.alternate = true;
            else if (*p == '0') conversion.zero = true;
            else break;
        }
        if (*p == '*') {
            conversion.width = va_arg(args, int);
            if (conversion.width < 0) {
                conversion.left = true;
                conversion.width = -conversion.width;
            }
            ++p;
        } else {
            while (*p >= '0' && *p <= '9') conversion.width = conversion.width * 10 + (*p++ - '0');
        }
        if (*p == '.') {
            ++p;
            conversion.precision = 0;
            if (*p == '*') {
                conversion.precision = va_arg(args, int);
                ++p;
            } else {
                while (*p >= '0' && *p <= '9') conversion.precision = conversion.precision * 10 + (*p++ - '0');
            }
        }
        if (*p == 'l' && p[1] == 'l') {
            conversion.size = 64;
            p += 2;
        } else if (*p == 'h') {
            conversion.text = 1;
            ++p;
            if (*p == 'h') ++p;
        } else if (*p == 'l' || *p == 'w') {
            conversion.text = 2;
            ++p;
        }
        switch (*p) {
            case 'd':
            case 'i': {
                int64_t v = conversion.size == 64 ? va_arg(args, long long) : va_arg(args, int);
                uint64_t magnitude = v < 0 ? 0 - static_cast<uint64_t>(v) : static_cast<uint64_t>(v);
                PutNumber(sink, conversion, magnitude, v < 0, 10, false, "");
                break;
            }
            case 'u':
            case 'x':
            case 'X':
            case 'o': {
                uint64_t v = conversion.size == 64 ? va_arg(args, unsigned long long) : va_arg(args, unsigned);
                unsigned base = *p == 'u' ? 10 : *p == 'o' ? 8 : 16;
                const char* prefix = "";
                if (conversion.alternate && v) prefix = *p == 'x' ? "0x" : *p == 'X' ? "0X" : *p == 'o' ? "0" : "";
                PutNumber(sink, conversion, v, false, base, *p == 'X', prefix);
                break;
            }
            case 'p': {
                Conversion pointer = conversion;
                pointer.precision = static_cast<int>(2 * sizeof(void*));
                PutNumber(sink, pointer, reinterpret_cast<uintptr_t>(va_arg(args, void*)), false, 16, true, "");
                break;
            }
            case 'c': {
                unsigned ch = static_cast<unsigned>(va_arg(args, int));
                if (sizeof(Char) == 1) ch = conversion.text == 2 ? NarrowOf(ch & 0xFFFF) : ch & 0xFF;
                else ch = conversion.text == 1 ? ch & 0xFF : ch & 0xFFFF;
                int pad = conversion.width > 1 ? conversion.width - 1 : 0;
                if (!conversion.left) sink.Repeat(' ', pad);
                sink.Put(ch);
                if (conversion.left) sink.Repeat(' ', pad);
                break;
            }
            case 's': {
                bool wide = conversion.text == 2 || (conversion.text == 0 && sizeof(Char) > 1);
                if (wide) PutText(sink, conversion, va_arg(args, const WCHAR*));
                else PutText(sink, conversion, va_arg(args, const char*));
                break;
            }
            case '%':
                sink.Put('%');
                break;
            default:
                // Not a conversion this helper knows: written as it stands, consuming nothing.
                for (const Char* q = start; q <= p && *q; ++q) sink.Put(static_cast<unsigned>(*q));
                if (!*p) return sink.Finish();
                break;
        }
    }
    return sink.Finish();
}

}  // namespace

size_t ZelStrLen(const WCHAR* text) { return Length(text); }
size_t ZelStrLenA(const char* text) { return Length(text); }

bool ZelStrCopy(WCHAR* dest, size_t capacity, const WCHAR* source) { return Copy(dest, capacity, source, 0); }
bool ZelStrCopyA(char* dest, size_t capacity, const char* source) { return Copy(dest, capacity, source, 0); }

bool ZelStrCat(WCHAR* dest, size_t capacity, const WCHAR* source) {
    size_t at = 0;
    while (at < capacity && dest[at]) ++at;
    return Copy(dest, capacity, source, at);
}

namespace {

unsigned FoldToUpper(unsigned c) {
    if ((c >= 'a' && c <= 'z') || (c >= 0xE0 && c <= 0xFE && c != 0xF7)) return c - 32;
    return c;
}

}  // namespace

void ZelStrUpper(WCHAR* text, size_t capacity) {
    if (!text) return;
    for (size_t i = 0; i < capacity && text[i]; ++i) text[i] = static_cast<WCHAR>(FoldToUpper(text[i]));
}

bool ZelStrEqualNoCase(const WCHAR* a, const WCHAR* b) {
    auto fold = FoldToUpper;
    if (!a || !b) return a == b;
    for (; *a && *b; ++a, ++b)
        if (fold(static_cast<unsigned>(*a)) != fold(static_cast<unsigned>(*b))) return false;
    return *a == *b;
}

LONG ZelParseLong(const WCHAR* text) {
    if (!text) return 0;
    while (*text == ' ' || (*text >= '\t' && *text <= '\r')) ++text;
    bool negative = false;
    if (*text == '+' || *text == '-') negative = *text++ == '-';
    int64_t value = 0;
    for (; *text >= '0' && *text <= '9'; ++text) {
        value = value * 10 + (*text - '0');
        if (value > 0x80000000LL) value = 0x80000000LL;  // saturate; only the limits matter from here
    }
    if (negative) return value >= 0x80000000LL ? INT32_MIN : static_cast<LONG>(-value);
    return value > 0x7FFFFFFFLL ? INT32_MAX : static_cast<LONG>(value);
}

bool ZelFormatV(WCHAR* dest, size_t capacity, const WCHAR* format, va_list args) {
    return Format(dest, capacity, format, args);
}

bool ZelFormat(WCHAR* dest, size_t capacity, const WCHAR* format, ...) {
    va_list args;
    va_start(args, format);
    bool fits = Format(dest, capacity, format, args);
    va_end(args);
    return fits;
}

bool ZelFormatVA(char* dest, size_t capacity, const char* format, va_list args) {
    return Format(dest, capacity, format, args);
}

bool ZelFormatA(char* dest, size_t capacity, const char* format, ...) {
    va_list args;
    va_start(args, format);
    bool fits = Format(dest, capacity, format, args);
    va_end(args);
    return fits;
}
