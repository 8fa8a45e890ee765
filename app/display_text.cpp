// Conversion of the program's Windows-1252 texts for the toolkit, which draws UTF-8.
#include "app/display_text.h"

#include "files/texts.h"

namespace {

// Short names of the ASCII control characters 0x00-0x1F, as a text display marks them.
constexpr const char* kControlNames[32] = {
    "nul", "soh", "stx", "etx", "eot", "enq", "ack", "bel", "bs",  "ht",  "nl",
    "vt",  "np",  "cr",  "so",  "si",  "dle", "dc1", "dc2", "dc3", "dc4", "nak",
    "syn", "etb", "can", "em",  "sub", "esc", "fs",  "gs",  "rs",  "us"};
constexpr unsigned char kDelete = 0x7F;

}  // namespace

std::string labelText(std::string_view cp1252, bool escapeSymbols)
{
    std::string utf8 = cp1252ToUtf8(cp1252);
    if (!escapeSymbols)
        return utf8;
    std::string escaped;
    escaped.reserve(utf8.size());
    for (char c : utf8) {
        escaped += c;
        if (c == '@')
            escaped += '@';
    }
    return escaped;
}

std::string displayText(std::string_view cp1252)
{
    std::string marked;
    marked.reserve(cp1252.size());
    for (char c : cp1252) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 && c != '\t' && c != '\n') {
            marked += '<';
            marked += kControlNames[byte];
            marked += '>';
        } else if (byte == kDelete) {
            marked += "<del>";
        } else {
            marked += c;
        }
    }
    return cp1252ToUtf8(marked);
}
