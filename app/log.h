// The message log: one line typed into the log field at its caret.
#pragma once

void PostLogMessage(const char* text);
