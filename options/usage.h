#pragma once

void printUsage();
void printSettings();
void printValueText(int row, int value);
