// The memo file: the memo field's text, saved at the end of every acquisition.
#pragma once

void WriteMemoFile();
