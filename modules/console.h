#pragma once

// Console module: the message stream (standard output unless switched), the output stream,
// standard error, and a progress display drawn on standard error.

int printMessage(const char* format, ...) __attribute__((format(printf, 1, 2)));
int printOutput(const char* format, ...) __attribute__((format(printf, 1, 2)));
int printError(const char* format, ...) __attribute__((format(printf, 1, 2)));

int selectMessageStream(int toError);

// Whether a stage prints its reports and messages: the program's run does; a library call, which
// must never print, runs its stages silent. Passed along rather than kept as a switch.
enum StageConsole { CONSOLE_SILENT = 0, CONSOLE_PRINTS = 1 };

int flushMessageStreams();
int getMessageLevel();
int setMessageLevel(int level);
[[noreturn]] void exitProgram(int status);

int setProgressEnabled(int flag);
int setProgressQuiet(int flag);
int beginProgress();
int endProgress();
int showPercent(int done, int total);
int showSpinner(int done, int total);
int printStatusLine(const char* format, ...) __attribute__((format(printf, 1, 2)));
