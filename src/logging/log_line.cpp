// Builds support-log lines and strips from URLs what must never reach a log (credentials, queries).
#include "logging/log_line.h"

#include <cstdio>
#include <cstring>

const char kLogManifest[] = "manifest";
const char kLogIndex[] = "index";
const char kLogFile[] = "file";
const char kLogArchive[] = "archive";
const char kLogDelta[] = "delta";
const char kLogRepair[] = "repair";
const char kLogMirror[] = "mirror";
const char kLogStep[] = "step";
const char kLogFailure[] = "failure";

namespace {

// Appends text to a bounded buffer; cuts when full and keeps the buffer terminated.
struct LineBuilder {
    char* out;
    size_t size;
    size_t length;
};

void appendRaw(LineBuilder* line, const char* text, size_t count) {
    if (line->length + 1 >= line->size) return;
    size_t room = line->size - 1 - line->length;
    if (count > room) count = room;
    memcpy(line->out + line->length, text, count);
    line->length += count;
    line->out[line->length] = '\0';
}

void appendText(LineBuilder* line, const char* text) { appendRaw(line, text, strlen(text)); }

void appendFormatted(LineBuilder* line, const char* format, long long value) {
    char number[48];
    int count = snprintf(number, sizeof number, format, value);
    if (count > 0) appendRaw(line, number, static_cast<size_t>(count) < sizeof number ? count : sizeof number - 1);
}

// A text field between quotes, at most fieldSize - 1 bytes of it. Line ends and tabs become spaces (a
// message box's text has them), other control bytes '?', and a quote an apostrophe, so a message can
// neither end the line nor the field.
void appendQuoted(LineBuilder* line, const char* key, const char* text, size_t fieldSize) {
    char field[kLogUrlFieldSize > kLogMessageFieldSize ? kLogUrlFieldSize : kLogMessageFieldSize];
    if (fieldSize > sizeof field) fieldSize = sizeof field;
    size_t n = 0;
    for (; text[n] != '\0' && n + 1 < fieldSize; ++n) {
        unsigned char c = static_cast<unsigned char>(text[n]);
        bool spacing = c == '\r' || c == '\n' || c == '\t';
        field[n] = spacing ? ' ' : c < 0x20 || c == 0x7f ? '?' : c == '"' ? '\'' : static_cast<char>(c);
    }
    field[n] = '\0';
    appendText(line, " ");
    appendText(line, key);
    appendText(line, "=\"");
    appendText(line, field);
    appendText(line, "\"");
}

// A word that names no one's data (program, topic): letters, digits, '.', '-' and '_' only.
void appendWord(LineBuilder* line, const char* word) {
    char field[32];
    size_t n = 0;
    for (; word[n] != '\0' && n + 1 < sizeof field; ++n) {
        char c = word[n];
        bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
                     c == '-' || c == '_';
        field[n] = plain ? c : '_';
    }
    field[n] = '\0';
    appendText(line, field);
}

}  // namespace

LogEvent logEvent(const char* topic) { return LogEvent{topic, nullptr, nullptr, 0, -1, 0, nullptr}; }

void reduceUrlForLog(const char* url, char* out, size_t outSize) {
    if (outSize == 0) return;
    out[0] = '\0';
    if (url == nullptr) return;
    LineBuilder reduced{out, outSize, 0};
    const char* rest = url;
    const char* scheme = strstr(url, "://");
    const char* queryOrFragment = strpbrk(url, "?#");
    if (scheme != nullptr && (queryOrFragment == nullptr || scheme < queryOrFragment)) {
        rest = scheme + 3;
        appendRaw(&reduced, url, static_cast<size_t>(rest - url));
        // The authority runs to the path, the query or the fragment; what precedes its last '@' is
        // user information, which may hold a password.
        size_t authorityLength = strcspn(rest, "/?#");
        const char* host = rest;
        for (size_t i = 0; i < authorityLength; ++i)
            if (rest[i] == '@') host = rest + i + 1;
        appendRaw(&reduced, host, static_cast<size_t>(rest + authorityLength - host));
        rest += authorityLength;
    }
    appendRaw(&reduced, rest, strcspn(rest, "?#"));
}

size_t formatLogLine(const LogTime& time, const char* program, unsigned long processId, const LogEvent& event,
                     char* out, size_t outSize) {
    if (outSize > kLogLineSize) outSize = kLogLineSize;
    // One byte stays free for the line end, whatever the fields took.
    LineBuilder line{out, outSize - 1, 0};
    out[0] = '\0';
    char stamp[64];
    snprintf(stamp, sizeof stamp, "%04d-%02d-%02d %02d:%02d:%02d.%03d ", time.year % 10000, time.month % 100,
             time.day % 100, time.hour % 100, time.minute % 100, time.second % 100, time.millisecond % 1000);
    appendText(&line, stamp);
    appendWord(&line, program != nullptr ? program : "");
    appendFormatted(&line, "[%lld] ", static_cast<long long>(processId));
    appendWord(&line, event.topic != nullptr ? event.topic : "");
    if (event.url != nullptr) {
        char url[kLogUrlFieldSize];
        reduceUrlForLog(event.url, url, sizeof url);
        appendQuoted(&line, "url", url, sizeof url);
    }
    if (event.name != nullptr) appendQuoted(&line, "name", event.name, kLogNameFieldSize);
    if (event.httpStatus != 0) appendFormatted(&line, " status=%lld", event.httpStatus);
    if (event.bytes >= 0) appendFormatted(&line, " bytes=%lld", event.bytes);
    if (event.error != 0) appendFormatted(&line, " error=%lld", static_cast<long long>(event.error));
    if (event.message != nullptr) appendQuoted(&line, "message", event.message, kLogMessageFieldSize);
    out[line.length] = '\n';
    out[line.length + 1] = '\0';
    return line.length + 1;
}
