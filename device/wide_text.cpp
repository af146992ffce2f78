#include "device/wide_text.h"

#include <cstdarg>
#include <cstdlib>

size_t WideLength(const char16_t* text) {
    if (text == nullptr) {
        return 0;
    }
    size_t length = 0;
    while (text[length] != 0) {
        ++length;
    }
    return length;
}

size_t WideCopy(char16_t* destination, size_t capacity, const char16_t* source) {
    if (capacity == 0) {
        return 0;
    }
    destination[0] = 0;
    return WideAppend(destination, capacity, source);
}

size_t WideAppend(char16_t* destination, size_t capacity, const char16_t* source) {
    if (capacity == 0) {
        return 0;
    }
    size_t length = 0;
    while (length < capacity && destination[length] != 0) {
        ++length;
    }
    if (length == capacity) {
        // Not terminated within capacity: terminate at the last unit.
        destination[capacity - 1] = 0;
        return capacity - 1;
    }
    if (source != nullptr) {
        for (size_t i = 0; source[i] != 0 && length + 1 < capacity; ++i) {
            destination[length++] = source[i];
        }
    }
    destination[length] = 0;
    return length;
}

char16_t* WideDuplicate(const char16_t* source) {
    size_t length = WideLength(source);
    char16_t* copy = static_cast<char16_t*>(malloc((length + 1) * sizeof(char16_t)));
    if (copy == nullptr) {
        return nullptr;
    }
    for (size_t i = 0; i < length; ++i) {
        copy[i] = source[i];
    }
    copy[length] = 0;
    return copy;
}

// Device paths carry ASCII and perhaps Latin-1 letters; folding those two ranges
// is what a path comparison needs.
char16_t WideFoldCase(char16_t c) {
    if (c >= u'A' && c <= u'Z') {
        return static_cast<char16_t>(c + 0x20);
    }
    if (c >= 0xC0 && c <= 0xDE && c != 0xD7) {
        return static_cast<char16_t>(c + 0x20);
    }
    return c;
}

bool WideEqualNoCase(const char16_t* a, const char16_t* b) {
    if (a == nullptr || b == nullptr) {
        return a == b;
    }
    for (size_t i = 0;; ++i) {
        if (WideFoldCase(a[i]) != WideFoldCase(b[i])) {
            return false;
        }
        if (a[i] == 0) {
            return true;
        }
    }
}

namespace {

struct Output {
    char16_t* destination;
    size_t capacity;
    size_t length;
};

void Put(Output* out, char16_t c) {
    if (out->length + 1 < out->capacity) {
        out->destination[out->length++] = c;
    }
}

void PutNumber(Output* out, unsigned value, unsigned base, unsigned width, bool zeroPad) {
    char16_t digits[32];
    unsigned count = 0;
    do {
        unsigned digit = value % base;
        digits[count++] = static_cast<char16_t>(digit < 10 ? u'0' + digit : u'a' + digit - 10);
        value /= base;
    } while (value != 0);
    for (unsigned i = count; i < width; ++i) {
        Put(out, zeroPad ? u'0' : u' ');
    }
    while (count > 0) {
        Put(out, digits[--count]);
    }
}

} // namespace

size_t WideFormat(char16_t* destination, size_t capacity, const char16_t* format, ...) {
    if (capacity == 0) {
        return 0;
    }
    Output out = {destination, capacity, 0};
    va_list args;
    va_start(args, format);
    for (const char16_t* p = format; *p != 0; ++p) {
        if (*p != u'%') {
            Put(&out, *p);
            continue;
        }
        ++p;
        bool zeroPad = false;
        unsigned width = 0;
        if (*p == u'0') {
            zeroPad = true;
            ++p;
        }
        while (*p >= u'0' && *p <= u'9' && width < 64) {
            width = width * 10 + static_cast<unsigned>(*p++ - u'0');
        }
        if (*p == 0) {
            break;
        }
        switch (*p) {
        case u's': {
            const char16_t* text = va_arg(args, const char16_t*);
            for (size_t i = 0; text != nullptr && text[i] != 0; ++i) {
                Put(&out, text[i]);
            }
            break;
        }
        case u'u':
            PutNumber(&out, va_arg(args, unsigned), 10, width, zeroPad);
            break;
        case u'x':
            PutNumber(&out, va_arg(args, unsigned), 16, width, zeroPad);
            break;
        case u'%':
            Put(&out, u'%');
            break;
        default:
            // Unknown conversions are copied as they stand, consuming no argument.
            Put(&out, u'%');
            Put(&out, *p);
            break;
        }
    }
    va_end(args);
    destination[out.length] = 0;
    return out.length;
}

namespace {

constexpr char32_t REPLACEMENT = 0xFFFD;

// Decodes one UTF-8 sequence; malformed input yields U+FFFD and consumes one byte.
char32_t DecodeUtf8(const unsigned char** cursor) {
    const unsigned char* s = *cursor;
    unsigned char lead = s[0];
    int extra;
    char32_t value;
    char32_t minimum;
    if (lead < 0x80) {
        *cursor = s + 1;
        return lead;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
        extra = 1, value = lead & 0x1F, minimum = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        extra = 2, value = lead & 0x0F, minimum = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        extra = 3, value = lead & 0x07, minimum = 0x10000;
    } else {
        *cursor = s + 1;
        return REPLACEMENT;
    }
    for (int i = 1; i <= extra; ++i) {
        if ((s[i] & 0xC0) != 0x80) {
            *cursor = s + 1;
            return REPLACEMENT;
        }
        value = (value << 6) | (s[i] & 0x3F);
    }
    if (value < minimum || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) {
        *cursor = s + 1;
        return REPLACEMENT;
    }
    *cursor = s + 1 + extra;
    return value;
}

} // namespace

size_t WideFromUtf8(char16_t* destination, size_t capacity, const char* source) {
    if (capacity == 0) {
        return 0;
    }
    size_t length = 0;
    const unsigned char* s = reinterpret_cast<const unsigned char*>(source);
    while (s != nullptr && *s != 0) {
        char32_t c = DecodeUtf8(&s);
        if (c >= 0x10000) {
            // A surrogate pair goes in whole or not at all.
            if (length + 2 >= capacity) {
                break;
            }
            c -= 0x10000;
            destination[length++] = static_cast<char16_t>(0xD800 + (c >> 10));
            destination[length++] = static_cast<char16_t>(0xDC00 + (c & 0x3FF));
        } else {
            if (length + 1 >= capacity) {
                break;
            }
            destination[length++] = static_cast<char16_t>(c);
        }
    }
    destination[length] = 0;
    return length;
}

size_t WideToUtf8(char* destination, size_t capacity, const char16_t* source) {
    if (capacity == 0) {
        return 0;
    }
    size_t length = 0;
    for (size_t i = 0; source != nullptr && source[i] != 0; ++i) {
        char32_t c = source[i];
        if (c >= 0xD800 && c <= 0xDBFF && source[i + 1] >= 0xDC00 && source[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (source[i + 1] - 0xDC00);
            ++i;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            c = REPLACEMENT; // unpaired surrogate
        }
        unsigned char bytes[4];
        size_t count;
        if (c < 0x80) {
            bytes[0] = static_cast<unsigned char>(c);
            count = 1;
        } else if (c < 0x800) {
            bytes[0] = static_cast<unsigned char>(0xC0 | (c >> 6));
            bytes[1] = static_cast<unsigned char>(0x80 | (c & 0x3F));
            count = 2;
        } else if (c < 0x10000) {
            bytes[0] = static_cast<unsigned char>(0xE0 | (c >> 12));
            bytes[1] = static_cast<unsigned char>(0x80 | ((c >> 6) & 0x3F));
            bytes[2] = static_cast<unsigned char>(0x80 | (c & 0x3F));
            count = 3;
        } else {
            bytes[0] = static_cast<unsigned char>(0xF0 | (c >> 18));
            bytes[1] = static_cast<unsigned char>(0x80 | ((c >> 12) & 0x3F));
            bytes[2] = static_cast<unsigned char>(0x80 | ((c >> 6) & 0x3F));
            bytes[3] = static_cast<unsigned char>(0x80 | (c & 0x3F));
            count = 4;
        }
        // A character goes in whole or not at all.
        if (length + count >= capacity) {
            break;
        }
        for (size_t k = 0; k < count; ++k) {
            destination[length++] = static_cast<char>(bytes[k]);
        }
    }
    destination[length] = 0;
    return length;
}
