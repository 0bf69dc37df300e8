// What varnock-cli prints. On a console the text goes out as UTF-16, so
// Chinese shows whatever the console's code page; to a file or a pipe it goes
// out as UTF-8 without a byte order mark, which scripts and editors read on
// any locale.
#pragma once

#include "text/WideString.h"

enum class Stream { Out, Err };

// Writes all of `text`; false when the stream is closed or a write fails.
bool WriteText(Stream stream, const CWideString& text);

// On a console only: one line, in green when `passed`, else red, so that an
// operator watching a line of adapters sees the outcome at a glance. Scripts
// reading a file or a pipe get the exit code instead.
void WriteVerdict(bool passed, const CWideString& line);
