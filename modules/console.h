#pragma once

// Console module: the message stream (standard output unless switched), the output stream,
// standard error, and a progress display drawn on standard error.

int printMessage(const char* format, ...) __attribute__((format(printf, 1, 2)));
int printOutput(const char* format, ...) __attribute__((format(printf, 1, 2)));
int printError(const char* format, ...) __attribute__((format(printf, 1, 2)));

int selectMessageStream(int toError);

// The stage reports on standard output (the pre-emphasis words) are on by default; a program that
// embeds the analysis turns them off.
int setStageReportsEnabled(int flag);
int stageReportsEnabled();

// Error messages through printError are on by default; an embedding program may turn them off.
int setErrorMessagesEnabled(int flag);
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
