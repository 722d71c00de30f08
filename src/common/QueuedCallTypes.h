#pragma once

// Registers, by name, the types that cross threads in queued signal/slot calls.
// Must run before any object that emits them is created.
void registerQueuedCallTypes();
