// Command-line options of the literal reference tool, in the program's own syntax
// (a dash, a letter in either case, a number where the option takes one).
#pragma once

#include <string>

#include "reference/literal_pipeline.h"

namespace literal {

// Applies one option argument such as "-W2" or "-c". False, with a message in
// `error`, for an unknown letter or a value out of the option's range. Options
// Q, O, F, D, E and R are accepted and ignored: they change no feature.
bool applyOption(const char* arg, Options& options, std::string& error);

// The name with ".extension" appended when its last path component has no dot.
std::string withDefaultExtension(const std::string& name, const char* extension);

}  // namespace literal
