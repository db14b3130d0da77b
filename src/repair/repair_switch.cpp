#include "repair/repair_switch.h"

#include <cstring>

namespace {

const char kRepairSwitch[] = "/repair";

bool isBlank(char c) { return c == ' ' || c == '\t'; }

char lowerAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// The token at `at` is the switch itself, not a prefix of a longer word such as "/repairs".
bool switchAt(const char* at) {
    size_t length = sizeof kRepairSwitch - 1;
    for (size_t i = 0; i < length; ++i)
        if (lowerAscii(at[i]) != kRepairSwitch[i]) return false;
    return at[length] == '\0' || isBlank(at[length]);
}

}  // namespace

bool takeRepairSwitch(char* commandLine) {
    bool found = false;
    char* out = commandLine;
    // A quoted argument is the game's own text: a "/repair" inside it is left alone.
    bool quoted = false;
    for (char* in = commandLine; *in != '\0';) {
        bool tokenStart = in == commandLine || isBlank(in[-1]);
        if (!quoted && tokenStart && switchAt(in)) {
            found = true;
            in += sizeof kRepairSwitch - 1;
            while (out > commandLine && isBlank(out[-1])) --out;
            if (out == commandLine)
                while (isBlank(*in)) ++in;
            continue;
        }
        if (*in == '"') quoted = !quoted;
        *out++ = *in++;
    }
    *out = '\0';
    return found;
}
