// Decides whether a name sent by the patch server (manifest file, zip entry, delete-list line) may be
// used as a path below the launcher's folder. Pure text rules for Windows paths; no file system access.
#pragma once

enum { kMaxSafePathLength = 255 };

// True when `name` is a relative path that stays inside the folder it is resolved against.
// A single trailing separator is allowed, so zip directory entries ("d1/d2/") pass.
bool isSafeRelativePath(const char* name);

// True when `text` is well-formed UTF-8: no overlong forms (which could hide '/', '.' or '\\'), no
// surrogates, nothing beyond U+10FFFF. In such text every byte below 0x80 is that ASCII character,
// so the byte rules of isSafeRelativePath hold for names flagged UTF-8 as well.
bool isValidUtf8(const char* text);
