#pragma once

// Lowers the calling thread's priority below the threads a person waits for: work done ahead
// of need, while a dialog is on the screen, must not slow the dialog. Best effort: a system
// that refuses leaves the priority as it was.
void yieldToForegroundWork();
