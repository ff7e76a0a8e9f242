#pragma once

// The program's name, version and date, as the banner and the usage text print them.
constexpr const char* PROGRAM_NAME = "Orvalix";
constexpr const char* PROGRAM_VERSION = "Version 0.01";
constexpr const char* PROGRAM_DATE = "29.06.2001";

void printUsage();
void printSettings();
void printValueText(int row, int value);
