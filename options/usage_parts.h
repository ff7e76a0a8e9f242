#pragma once

// The pieces the usage text is assembled from; printUsage and printSettings (options/usage.h)
// are the entry points, these are exposed for tests and for tools that print single rows.

int optionLetterUsed(int letter);
int countNumberedPositions(int letter);
void printOptionHelp();
void printOptionHead(int letter, int numberedCount);
void printOptionLine(int letter, int row, int position, int numberedCount);
void printChoiceList(int row);
void printRangeAndDefault(int row);
void printFlagDefault(int row);
