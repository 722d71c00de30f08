#pragma once

// Classes whose code lives in the server executable and that modules use: their symbols
// must stay visible to modules built with hidden visibility.
#define VYR_SERVER_CLASS __attribute__((visibility("default")))
