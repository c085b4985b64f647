#include "convert/names.h"

#include <algorithm>
#include <utility>

#include "io/console.h"
#include "io/file_system.h"

namespace {

// The characters of Windows-1252's bytes 0x80-0x9F; 0 where it leaves the
// byte undefined. Below and above them the bytes are Latin-1.
constexpr char16_t WINDOWS_1252_80_TO_9F[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178,
};

// A letter followed by a combining mark, as macOS may hand names out, that
// Windows-1252 holds as one character: bases[i] with mark is composed[i].
struct Composition {
    char32_t mark;
    std::string_view bases;
    std::string_view composed;
};
constexpr Composition COMPOSITIONS[] = {
    {0x0300, "AEIOUaeiou", "\xC0\xC8\xCC\xD2\xD9\xE0\xE8\xEC\xF2\xF9"},
    {0x0301, "AEIOUYaeiouy", "\xC1\xC9\xCD\xD3\xDA\xDD\xE1\xE9\xED\xF3\xFA\xFD"},
    {0x0302, "AEIOUaeiou", "\xC2\xCA\xCE\xD4\xDB\xE2\xEA\xEE\xF4\xFB"},
    {0x0303, "ANOano", "\xC3\xD1\xD5\xE3\xF1\xF5"},
    {0x0308, "AEIOUYaeiouy", "\xC4\xCB\xCF\xD6\xDC\x9F\xE4\xEB\xEF\xF6\xFC\xFF"},
    {0x030A, "Aa", "\xC5\xE5"},
    {0x030C, "SZsz", "\x8A\x8E\x9A\x9E"},
    {0x0327, "Cc", "\xC7\xE7"},
};

constexpr char REPLACEMENT = '_';

bool is_forbidden(char c) {
    return is_control_character(static_cast<unsigned char>(c)) || std::string_view("/\\:*?\"<>|").find(c) != std::string::npos;
}

// Windows opens a device for these names, whatever extension follows. The
// digits include Windows-1252's superscripts one, two and three.
bool is_device_name(std::string_view name) {
    std::u32string stem = name_key(name.substr(0, name.find('.')));
    while (stem.ends_with(U' ')) stem.pop_back();
    if (stem == U"CON" || stem == U"PRN" || stem == U"AUX" || stem == U"NUL" || stem == U"CONIN$" || stem == U"CONOUT$")
        return true;
    return stem.size() == 4 && (stem.starts_with(U"COM") || stem.starts_with(U"LPT")) &&
           std::u32string_view(U"0123456789\u00B9\u00B2\u00B3").find(stem[3]) != std::u32string_view::npos;
}

// The character of a Windows-1252 byte; 0 for the five undefined bytes.
char32_t character_of(unsigned char byte) { return byte >= 0x80 && byte < 0xA0 ? WINDOWS_1252_80_TO_9F[byte - 0x80] : byte; }

// The Windows-1252 byte of a character, or REPLACEMENT when it has none.
char windows_1252_of(char32_t c) {
    if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) return static_cast<char>(c);
    const auto* at = std::find(std::begin(WINDOWS_1252_80_TO_9F), std::end(WINDOWS_1252_80_TO_9F), c);
    return at == std::end(WINDOWS_1252_80_TO_9F) ? REPLACEMENT : static_cast<char>(0x80 + (at - WINDOWS_1252_80_TO_9F));
}

// The one Windows-1252 byte for base followed by mark, or 0.
char composed(char32_t base, char32_t mark) {
    for (const Composition& k : COMPOSITIONS) {
        const std::size_t at = base < 0x80 ? k.bases.find(static_cast<char>(base)) : std::string_view::npos;
        if (k.mark == mark && at != std::string_view::npos) return k.composed[at];
    }
    return '\0';
}

// The length of the UTF-8 sequence text starts with and its character in c;
// 0 when it is not valid UTF-8 (overlong forms, surrogates and values past
// U+10FFFF included).
std::size_t decode_utf8_character(std::string_view text, char32_t& c) {
    static constexpr char32_t SMALLEST[] = {0, 0, 0x80, 0x800, 0x10000};
    const auto lead = static_cast<unsigned char>(text[0]);
    const std::size_t length = lead < 0x80 ? 1 : lead < 0xC2 ? 0 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : lead < 0xF5 ? 4 : 0;
    if (length == 0 || length > text.size()) return 0;
    c = length == 1 ? lead : lead & (0x7Fu >> length);
    for (std::size_t k = 1; k < length; ++k) {
        const auto next = static_cast<unsigned char>(text[k]);
        if ((next & 0xC0) != 0x80) return 0;
        c = c << 6 | (next & 0x3Fu);
    }
    return c < SMALLEST[length] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF) ? 0 : length;
}

// The characters of UTF-8 text; false when the text is not valid UTF-8.
bool decode_utf8(std::string_view text, std::u32string& characters) {
    for (std::size_t i = 0, length = 0; i < text.size(); i += length) {
        char32_t c = 0;
        length = decode_utf8_character(text.substr(i), c);
        if (length == 0) return false;
        characters.push_back(c);
    }
    return true;
}

// A UTF-8 file name in Windows-1252. A name that is not UTF-8 is kept byte
// for byte: such names are mostly Latin-1 already.
std::string windows_1252_of_file_name(std::string_view file_name) {
    std::u32string characters;
    if (!decode_utf8(file_name, characters)) return std::string(file_name);
    std::string name;
    for (std::size_t i = 0; i < characters.size(); ++i) {
        const char both = i + 1 < characters.size() ? composed(characters[i], characters[i + 1]) : '\0';
        name += both != '\0' ? both : windows_1252_of(characters[i]);
        if (both != '\0') ++i;  // the mark is taken
    }
    return name;
}

// The upper case of a letter Windows-1252 holds in both cases.
char32_t upper_letter(char32_t c) {
    if ((c >= 'a' && c <= 'z') || (c >= 0xE0 && c <= 0xFE && c != 0xF7)) return c - 0x20;
    if (c == 0x0153 || c == 0x0161 || c == 0x017E) return c - 1;  // oe, s and z with caron
    return c == 0xFF ? 0x0178 : c;                                 // y with diaeresis
}

// A Windows-1252 name in UTF-8; an undefined byte becomes REPLACEMENT.
std::string utf8_of(std::string_view name) {
    std::string text;
    for (const char byte : name) {
        const char32_t c = character_of(static_cast<unsigned char>(byte));
        if (c < 0x80) {
            text += c == 0 ? REPLACEMENT : byte;
        } else if (c < 0x800) {
            text += static_cast<char>(0xC0 | c >> 6);
            text += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            text += static_cast<char>(0xE0 | c >> 12);
            text += static_cast<char>(0x80 | (c >> 6 & 0x3F));
            text += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return text;
}

}  // namespace

std::string record_name_of(std::string_view file_name) {
    const std::string name = windows_1252_of_file_name(file_name);
    const std::size_t n = name.size();
    return n >= 4 && name[n - 4] == '.' ? name.substr(0, n - 4) : name;
}

std::string file_stem_of_record(std::string_view record_name) {
    std::string name(record_name);
    std::replace_if(name.begin(), name.end(), is_forbidden, REPLACEMENT);
    if (is_device_name(name)) name.insert(name.begin(), REPLACEMENT);
    return utf8_of(name);
}

std::string numbered_file_name(std::string_view stem, unsigned copy) {
    const std::string ending = (copy > 1 ? " (" + std::to_string(copy) + ")" : "") + ".bmp";
    std::size_t keep = std::min(stem.size(), MAX_FILE_NAME_BYTES - ending.size());
    while (keep > 0 && keep < stem.size() && (static_cast<unsigned char>(stem[keep]) & 0xC0) == 0x80) --keep;  // whole characters
    return std::string(stem.substr(0, keep)) + ending;
}

std::string_view stem_of(std::string_view path) {
    const std::size_t start = path.find_last_of(PATH_SEPARATORS) + 1;  // npos + 1 is 0
    const std::size_t dot = path.rfind('.');
    return path.substr(start, dot != std::string_view::npos && dot > start ? dot - start : std::string_view::npos);
}

FileName free_file_name(const std::string& folder, std::string_view stem, const WrittenFiles& files) {
    const auto last = files.copies_of_name.find(name_key(stem));
    FileName file{"", last == files.copies_of_name.end() ? 0 : last->second};
    do {
        file.name = numbered_file_name(stem, ++file.copy);
    } while (files.taken.contains(name_key(file.name)) ||
             std::any_of(files.kept.begin(), files.kept.end(),
                         [&](const std::string& kept) { return same_file(folder + file.name, kept); }));
    return file;
}

void take_file_name(WrittenFiles& files, std::string_view stem, const FileName& name) {
    files.taken.insert(name_key(name.name));
    unsigned& last = files.copies_of_name[name_key(stem)];
    last = std::max(last, name.copy);
}

std::u32string name_key(std::string_view file_name) {
    std::u32string key;
    if (!decode_utf8(file_name, key)) {
        key.clear();
        for (const char byte : file_name) key += character_of(static_cast<unsigned char>(byte));
    }
    for (char32_t& c : key) c = upper_letter(c);
    return key;
}

void sort_by_name(std::vector<std::string>& names) {
    std::vector<std::pair<std::u32string, std::string>> keyed;
    for (std::string& name : names) keyed.emplace_back(name_key(name), std::move(name));
    std::sort(keyed.begin(), keyed.end());
    for (std::size_t i = 0; i < names.size(); ++i) names[i] = std::move(keyed[i].second);
}

std::string shown(std::string_view name) {
    std::string text;
    for (std::size_t i = 0, length = 0; i < name.size(); i += length) {
        char32_t c = static_cast<unsigned char>(name[i]);
        length = decode_utf8_character(name.substr(i), c);
        const bool control = length == 0 || (c < 0x80 ? is_control_character(static_cast<unsigned char>(c))
                                                      : c < 0xA0);
        length = std::max<std::size_t>(length, 1);  // a byte that is not UTF-8 shows on its own
        text += control ? std::string_view("?") : name.substr(i, length);
    }
    return text;
}

bool has_bmp_suffix(std::string_view name) { return name_key(name).ends_with(U".BMP"); }

std::string gray_picture_patterns(const std::vector<std::string>& names) {
    std::string patterns;
    for (const std::string_view extension : GRAY_PICTURE_EXTENSIONS) {
        std::set<std::string> spellings;
        for (const std::string& name : names)
            if (name.size() > extension.size() && name_key(name).ends_with(name_key(extension)))
                spellings.insert(ON_WINDOWS ? std::string(extension) : name.substr(name.size() - extension.size()));
        for (const std::string& spelling : spellings) patterns += (patterns.empty() ? "*" : " *") + spelling;
    }
    return patterns;
}
