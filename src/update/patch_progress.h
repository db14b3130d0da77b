// Progress arithmetic and archive naming of the update worker, kept apart from WinINet so that any
// size a server announces can be tried against it natively.
#pragma once

// Percent of one file received, 0..100. With no usable size (0 or negative) the previous value
// stays. Single-precision and truncated toward zero, as the bar has always moved.
int filePercent(long long received, long long fileSize, int previous);

// Percent of all files done before the current one, 0..100; 0 when there are no files.
int totalPercent(int done, int totalFileCount);

// True when the name ends in "zip" in any letter case (no dot needed) and is longer than three.
bool isArchiveName(const char* name);
