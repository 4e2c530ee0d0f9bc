// Text from outside (a path, a line of a file) made safe to put on one line
// of our own: every control byte, a newline or an escape among them, shows as
// '?', so it can neither break the line nor reach a terminal.
#pragma once

#include <string>
#include <string_view>

inline std::string MaskControlCharacters(std::string_view text) {
    std::string masked(text);
    for (char& c : masked) {
        const unsigned char byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F) c = '?';
    }
    return masked;
}
