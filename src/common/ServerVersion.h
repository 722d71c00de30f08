#pragma once

// One version string for the banner, the status page and SERVER_VERSION.
inline constexpr char kServerVersion[] = "6.6.10.168";
