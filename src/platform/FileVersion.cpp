#include "FileVersion.h"

FileVersion::~FileVersion() = default;
