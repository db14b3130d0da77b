// In-place enciphering of the configuration text with the built-in key text: the file content is
// one salted message of the text. No terminating zero is written either way.
#pragma once
#include <cstddef>
#include <cstdint>

// Deciphers `length` bytes in place; answers the text length n. Only the first n bytes are the
// text: the rest of the buffer keeps its former (enciphered) bytes.
int32_t decipherConfig(unsigned char* buffer, uint32_t length);

// Replaces the zero-terminated text in `text` (a buffer of `capacity` bytes) with its enciphered
// content and answers that content's length, which may contain zero bytes. Answers -1 and leaves
// the buffer as it was when the content would not fit in `capacity` bytes.
int32_t encipherConfig(char* text, size_t capacity);

// Length of the content encipherConfig makes of an `textLength`-byte text with the current key text.
size_t encipheredConfigSize(size_t textLength);
