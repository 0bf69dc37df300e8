// What varnock-cli prints. On a console the text goes out as UTF-16, so
// Chinese shows whatever the console's code page; to a file or a pipe it goes
// out as UTF-8 without a byte order mark, which scripts and editors read on
// any locale.
#pragma once

#include "text/WideString.h"

enum class Stream { Out, Err };

// Writes all of `text`; false when the stream is closed or a write fails.
bool WriteText(Stream stream, const CWideString& text);
