#pragma once
// The program's string table.

#include <string>

inline constexpr int IDS_ABOUTBOX = 101;

// The text of a string resource; empty when there is none.
std::string LoadStringResource(int id);
// Replaces a string resource (tests use it to check how an empty text is handled).
void SetStringResource(int id, std::string text);
