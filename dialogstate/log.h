// The message log: one whole line into the log field at its caret.
#pragma once

void PostLogMessage(const char* text);
