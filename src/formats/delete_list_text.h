// The delete list "delete.txt" as text: what a line may hold and how the list is written. The launcher
// reads it (delete_list.cpp), vyr-publish writes it; both through these rules. Free of Windows headers.
#pragma once
#include <string>
#include <vector>

// The launcher reads a line into kDeleteLineSize bytes (254 characters and the terminator), and a line
// of kListEndLength characters or fewer, its line feed counted, ends the list.
enum { kDeleteLineSize = 255, kListEndLength = 4 };

// True when the line as read (with its line feed, if any) ends the list.
bool endsDeleteList(const char* line);

// True when `name` can be written as a line that the launcher reads back as this very name: a safe
// relative file path (no trailing separator), longer than a list end and short enough for one read.
bool isDeletableName(const char* name);

// The list text: one name per line, LF line ends. Every name must pass isDeletableName.
std::string formatDeleteList(const std::vector<std::string>& names);
